# The legacy configuration text fuzzer. The statement reader builds on the
# standard library alone (opening host paths lives in configupgradeparser_open.cpp,
# which the target leaves out); the common base is linked but not needed.
# Seed texts: fuzz/corpus/legacy_parser. Run e.g.:
#   fuzz_legacy_parser -max_total_time=60 -max_len=40000 fuzz/corpus/legacy_parser
tarn_fuzzer(fuzz_legacy_parser fuzz_legacy_parser.cpp
  lib/tarnctl/configstore/configupgradeparser.cpp)
