// One include, named by the build in TAVO_PROBE_HEADER: compiled with exactly
// the include paths a layer's own sources get, it shows which headers that
// layer can reach.
#include TAVO_PROBE_HEADER
