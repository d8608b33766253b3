/* The Ogg Vorbis decoder ships as a single source file; its implementation is compiled here,
   once, and used through its declarations elsewhere. */
#include <stb/stb_vorbis.h>
