// Pure text and value rules of the system domain, kept apart from kernel and
// store access so that they can be read and tested alone.
#pragma once

#include <istream>
#include <map>
#include <string>

#include "hostctl/system.h"

namespace TarnCtl::System {

// "%02hhx...-...": the canonical lower-case text of 16 bytes.
std::string FormatUuid(const uint8_t (&bytes)[16]);

// A 32-character boot file-system UUID regrouped 8-8-4-12 with the first two
// byte groups reversed pairwise; any other length is returned as given.
std::string RegroupBootFsUuid(const std::string& raw);

// Replaces every recovery key of a boot command line by a fixed pattern. Same
// result as the kernel's documented expression, found in one forward scan.
std::string MaskRecoveryKeys(const std::string& commandLine);

// "<ESC>" to the escape byte and back (motd and issue texts).
std::string EscapeMarkersToBytes(const std::string& text);
std::string EscapeBytesToMarkers(const std::string& text);

// Every faulty field of a clock value as one text, in fixed order; empty when
// all fields are in range.
std::string RtcFieldErrors(const HostCtl::System::RtcDateTime& time);
// The value normalised as a UTC calendar time (day 31 of a 30-day month rolls
// over); throws "Invalid time specified." when it cannot be represented.
HostCtl::System::RtcDateTime NormaliseRtc(const HostCtl::System::RtcDateTime& time);

// The keymap list: layout name (up to the line's last space) -> archive file.
// Lines without a space are skipped; a repeated name takes the later file.
std::map<std::string, std::string> ParseKeymapList(std::istream& in);

// A "build=" line of the alternate boot bank's boot.cfg; false when it does
// not carry a version.
bool ParseAltBootBuildLine(const std::string& line, HostCtl::System::TarnVersion* out);

}  // namespace TarnCtl::System
