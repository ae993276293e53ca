/* stb_dxt's implementation for the Windows build (the Linux build links
   Debian's compiled libstb). */
#define STB_DXT_IMPLEMENTATION
#include <stb_dxt.h>
