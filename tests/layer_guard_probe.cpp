// Must not compile: it is built as part of a library that may not use VELMAR_PROBE_HEADER.
#include VELMAR_PROBE_HEADER
