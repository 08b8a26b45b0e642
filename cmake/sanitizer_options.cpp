// Built into the test programs and velitems of an AddressSanitizer build
// (VEL_SANITIZE): the options those processes start with, under any given in
// $ASAN_OPTIONS.
//
// intercept_tls_get_addr=0: this compiler's runtime records the dynamic TLS
// blocks of libraries loaded at run time through __tls_get_addr, and its leak
// checker, walking those records at exit, crashes on a stale one ("Tracer
// caught signal 11") once the plugins' libraries (FFmpeg's and the graphics
// stack's among them) are loaded. Without the records the blocks are still
// found: they are ordinary heap blocks the thread's TLS points to.
extern "C" const char* __asan_default_options() { return "intercept_tls_get_addr=0"; }
