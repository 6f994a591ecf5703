// A library that loads but has no plug-in entry point.
extern "C" int NotTheConstructor() { return 1; }
