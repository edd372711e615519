#include "win/Files.h"
#include "win/UniqueAny.h"

namespace hv {

std::string TempFolder() {
    char buf[MAX_PATH + 1] = {};
    DWORD n = ::GetTempPathA(MAX_PATH, buf);
    if (n == 0 || n > MAX_PATH) return std::string();
    std::string dir(buf, n);
    while (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
    return dir;
}

std::string NewTempFile(const char* prefix) {
    char dir[MAX_PATH + 1] = {};
    DWORD n = ::GetTempPathA(MAX_PATH, dir);
    if (n == 0 || n > MAX_PATH) return std::string();
    char path[MAX_PATH + 1] = {};
    if (!::GetTempFileNameA(dir, prefix, 0, path)) return std::string();
    return path;
}

bool FileExists(const std::string& path) {
    DWORD attrs = ::GetFileAttributesA(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY);
}

bool ReadWholeFile(const std::string& path, std::string& out) {
    unique_hfile f(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return false;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(f.get(), &size) || size.QuadPart > 0x7fffffff) return false;
    out.assign(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < out.size()) {
        DWORD got = 0;
        if (!::ReadFile(f.get(), &out[done], static_cast<DWORD>(out.size() - done), &got, nullptr)) return false;
        if (got == 0) break;
        done += got;
    }
    out.resize(done);
    return true;
}

bool WriteWholeFile(const std::string& path, const std::string& data) {
    unique_hfile f(
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return false;
    DWORD written = 0;
    return ::WriteFile(f.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
           written == data.size();
}

}  // namespace hv
