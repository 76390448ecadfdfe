// A library that only the GetModuleHandleA test loads, so that no other
// test has it in the process before.
extern "C" __attribute__((visibility("default"))) int xpp_probe_answer(void) { return 42; }
