// The option languages of the native multipathing plug-in: SATP option
// tokens and their recorded fields (and the way back to a kernel string per
// SATP family), PSP configuration strings "key=value;...", the round-robin
// keys, and the NMP device option tokens of SATP claim rules. No kernel or
// store access here: callers record and apply what these return.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/configstore.h"

namespace TarnCtl::Storage::Nmp {

inline constexpr const char* kThirdPartySatp = "THIRD_PARTY_SATP";
inline constexpr const char* kThirdPartyPsp = "THIRD_PARTY_PSP";

// A text field of a recorded object ("" when the object or field is absent).
std::string StoreText(const HaldenConfigStore::StoreObject* object, const char* field);

// The plug-in a recorded satp / psp sub-object names: its type, or for
// another vendor's plug-in ("THIRD_PARTY_...") its name.
std::string RecordedPluginName(const HaldenConfigStore::StoreObject* sub);

// The 13 SATPs and 3 PSPs the platform ships.
const std::vector<std::string>& PlatformSatps();
bool IsPlatformSatp(const std::string& name);
bool IsPlatformPsp(const std::string& name);

// Tokens of an option string split at tab, space, ";", "{", "}" and ",",
// trimmed, empty ones dropped.
std::vector<std::string> SplitOptionTokens(const std::string& text);

// Sets the recorded field of every recognised token of `options` on `fields`
// (the device's satp sub-object); support tokens are ignored and unknown ones
// logged. Returns false when any token was unknown (recognised ones are set).
bool ApplySatpOptionTokens(const std::string& satp, const std::string& options,
                           HaldenConfigStore::StoreObject& fields);
// The kernel string the recorded fields stand for, for the SATP's family.
std::string BuildSatpConfigString(const std::string& satp, const HaldenConfigStore::StoreObject& fields);

// "key1=val1;key2=val2" into its pairs; throws on the wrong form or a key
// given twice.
std::map<std::string, std::string> ParsePspConfigString(const std::string& text);
// The round-robin checks of a parsed configuration (keys, values, which keys
// each policy allows); throws with the first failure.
void ValidateRoundRobinOptions(const std::map<std::string, std::string>& options);
// A validated round-robin configuration as recorded (policy, iops, bytes,
// latency_eval_time, num_sampling_cycles, use_ano) and back.
void RoundRobinToStore(const std::map<std::string, std::string>& options, HaldenConfigStore::StoreObject& out);
std::string RoundRobinFromStore(const HaldenConfigStore::StoreObject& roundRobin);

// NMP device option tokens of claim rules.
std::vector<std::string> ParseNmpOptions(const std::string& text);
bool IsNmpOption(const std::string& token);
// Throws for an unknown token or contradicting pairs.
void ValidateNmpOptConfigString(const std::string& text);

}  // namespace TarnCtl::Storage::Nmp
