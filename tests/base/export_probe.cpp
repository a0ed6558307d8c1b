// A shared object with one stray export: check_exports.sh must reject it.
extern "C" __attribute__((visibility("default"))) int kestrel_stray_export(void) { return 1; }
