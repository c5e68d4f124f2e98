// Shared by every test binary. The editor's system libraries (Fontconfig, Cairo, Pango) keep
// font patterns and faces in caches for the life of the process, some behind offset-encoded
// pointers the leak checker cannot follow; what they hold is theirs, not the editor's.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libcairo.so\n"
           "leak:libpango-1.0.so\n"
           "leak:libpangoft2-1.0.so\n"
           "leak:libpangocairo-1.0.so\n"
           "leak:libharfbuzz.so\n"
           "leak:libfreetype.so\n";
}

extern "C" const char* __lsan_default_options() {
    return "print_suppressions=0";
}
