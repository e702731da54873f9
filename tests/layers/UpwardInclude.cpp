// Compiled with one library's include folders: its own header must be found
// and the header of a layer above it must not.
#include OWN_HEADER
#include UPPER_HEADER
