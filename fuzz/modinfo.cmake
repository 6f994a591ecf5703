# The module metadata fuzzer: ELF64 section lookup and entry classification of
# kernel module files. Seeds: fuzz/corpus/modinfo (real module files).
tarn_fuzzer(fuzz_modinfo fuzz_modinfo.cpp lib/tarnctl/system/module_info.cpp)
find_package(Boost REQUIRED COMPONENTS regex)
target_link_libraries(fuzz_modinfo PRIVATE Boost::regex)
