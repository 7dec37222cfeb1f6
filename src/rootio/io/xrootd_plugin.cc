#include "rootio/io/xrootd_plugin.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

#include "rootio/format/error.h"

namespace rootio {
namespace {

struct Plugin {
    OpenXRootDSource open = nullptr;
    std::string error;  // why there is none
};

// Never unloaded: sources it made may live until the program ends.
Plugin load_plugin()
{
    namespace fs = std::filesystem;
    std::error_code err;
    const fs::path program = fs::read_symlink("/proc/self/exe", err);
    if (err) return {nullptr, "cannot find the program's own folder: " + err.message()};
    for (const fs::path& folder : {program.parent_path(), program.parent_path().parent_path()}) {
        const fs::path library = folder / kXRootDPluginFile;
        if (!fs::exists(library, err)) continue;
        void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) return {nullptr, std::string("cannot load the XRootD plug-in: ") + ::dlerror()};
        void* entry = ::dlsym(handle, kXRootDPluginEntry);
        if (!entry) return {nullptr, library.string() + ": not the XRootD plug-in (no " + kXRootDPluginEntry + ")"};
        return {reinterpret_cast<OpenXRootDSource>(entry), {}};
    }
    return {nullptr, std::string("no XRootD plug-in (") + kXRootDPluginFile + ") beside the program in " +
                         program.parent_path().string()};
}

}  // namespace

bool is_xrootd_url(std::string_view name)
{
    return name.starts_with("root://") || name.starts_with("xroot://");
}

std::unique_ptr<ByteSource> open_xrootd_source(const std::string& url)
{
    static const Plugin plugin = load_plugin();
    if (!plugin.open) fail(url, "", "cannot open: " + plugin.error);
    return std::unique_ptr<ByteSource>(plugin.open(url));
}

}  // namespace rootio
