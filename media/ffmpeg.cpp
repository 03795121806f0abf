#include "ffmpeg.h"

#include <cstdlib>
#include <dlfcn.h>

namespace {

#define PX_STRINGIFY2(x) #x
#define PX_STRINGIFY(x) PX_STRINGIFY2(x)

// The versions the program was built against: another major version has another interface.
const char *const kLibraryFiles[] = {
    "libavutil.so." PX_STRINGIFY(LIBAVUTIL_VERSION_MAJOR),
    "libswscale.so." PX_STRINGIFY(LIBSWSCALE_VERSION_MAJOR),
    "libavcodec.so." PX_STRINGIFY(LIBAVCODEC_VERSION_MAJOR),
    "libavformat.so." PX_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR),
};
enum Library { avutil, swscale, avcodec, avformat };

struct Loaded {
    FFmpegLibraries functions;
    bool ok = false;
    std::string why;
};

Loaded Load()
{
    Loaded loaded;
    void *handles[4] = {};
    for (int i = 0; i < 4; ++i) {
        // Kept open for the rest of the process: the functions are used until it ends.
        handles[i] = ::dlopen(kLibraryFiles[i], RTLD_NOW | RTLD_LOCAL);
        if (!handles[i]) {
            const char *error = ::dlerror();
            loaded.why = error ? error : kLibraryFiles[i];
            return loaded;
        }
    }
#define PX_FFMPEG_RESOLVE(library, name)                                                          \
    loaded.functions.name =                                                                       \
        reinterpret_cast<decltype(&::name)>(::dlsym(handles[library], #name));                   \
    if (!loaded.functions.name) {                                                                 \
        loaded.why = std::string(kLibraryFiles[library]) + " has no " #name;                     \
        return loaded;                                                                            \
    }
    PX_FFMPEG_FUNCTIONS(PX_FFMPEG_RESOLVE)
#undef PX_FFMPEG_RESOLVE
    loaded.ok = true;
    return loaded;
}

const Loaded &Libraries()
{
    static const Loaded loaded = Load();
    return loaded;
}

} // namespace

const FFmpegLibraries *LoadFFmpeg(std::string *why)
{
    const Loaded &loaded = Libraries();
    if (!loaded.ok && why)
        *why = loaded.why;
    return loaded.ok ? &loaded.functions : nullptr;
}

const FFmpegLibraries &FFmpeg()
{
    const Loaded &loaded = Libraries();
    if (!loaded.ok)
        std::abort(); // a caller skipped LoadFFmpeg(): a programming error
    return loaded.functions;
}
