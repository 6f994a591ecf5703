# The network address fuzzer: differential against inet_pton/inet_ntop/sscanf.
# It needs only the value types besides the common base (no kernel client, no
# simulation): IpConfig and its kernel query are left out on purpose.
# Seed texts: fuzz/corpus/netvalues. Run e.g.: fuzz_netvalues -max_total_time=60 -max_len=128
tarn_fuzzer(fuzz_netvalues fuzz_netvalues.cpp
  lib/tarnctl/network/values/text_codec.cpp
  lib/tarnctl/network/values/addresses.cpp
  lib/tarnctl/network/values/networks.cpp
  lib/tarnctl/network/values/policies.cpp)
