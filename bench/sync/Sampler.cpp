#include "Sampler.h"

#include <psapi.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <map>

void CSampler::LoadModules() {
    HMODULE handles[512];
    DWORD needed = 0;
    if (!::EnumProcessModules(::GetCurrentProcess(), handles, sizeof(handles), &needed)) return;
    const DWORD n = std::min<DWORD>(needed / sizeof(HMODULE), 512);
    std::vector<CModule> modules;
    for (DWORD i = 0; i < n; ++i) {
        MODULEINFO info = {};
        if (!::GetModuleInformation(::GetCurrentProcess(), handles[i], &info, sizeof(info))) continue;
        CModule m;
        m.base = reinterpret_cast<ULONG_PTR>(info.lpBaseOfDll);
        m.end = m.base + info.SizeOfImage;
        char path[MAX_PATH] = {};
        ::GetModuleFileNameA(handles[i], path, MAX_PATH);
        const char* slash = std::max(std::strrchr(path, '\\'), std::strrchr(path, '/'));
        m.name = slash ? slash + 1 : path;
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(m.base);
        if (dos->e_magic == IMAGE_DOS_SIGNATURE) {
            const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(m.base + dos->e_lfanew);
            const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXCEPTION];
            if (dir.VirtualAddress && dir.Size) {
                m.functions = reinterpret_cast<const RUNTIME_FUNCTION*>(m.base + dir.VirtualAddress);
                m.count = dir.Size / sizeof(RUNTIME_FUNCTION);
            }
        }
        modules.push_back(std::move(m));
    }
    std::sort(modules.begin(), modules.end(), [](const CModule& a, const CModule& b) { return a.base < b.base; });
    m_modules.swap(modules);
}

const CSampler::CModule* CSampler::ModuleOf(ULONG_PTR pc) const noexcept {
    for (const CModule& m : m_modules)
        if (pc >= m.base && pc < m.end) return &m;
    return nullptr;
}

const RUNTIME_FUNCTION* CSampler::FunctionOf(const CModule& module, ULONG_PTR pc) const noexcept {
    if (!module.functions) return nullptr;
    const DWORD rva = static_cast<DWORD>(pc - module.base);
    DWORD lo = 0, hi = module.count;
    while (lo < hi) {
        const DWORD mid = (lo + hi) / 2;
        const RUNTIME_FUNCTION& f = module.functions[mid];
        if (rva < f.BeginAddress)
            hi = mid;
        else if (rva >= f.EndAddress)
            lo = mid + 1;
        else
            return &f;
    }
    return nullptr;
}

void CSampler::Start() {
    if (m_worker.joinable()) return;
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &m_hThread,
                      THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, 0);
    // The top of this thread's stack: the end of the committed region that holds a local.
    MEMORY_BASIC_INFORMATION region = {};
    ::VirtualQuery(&region, &region, sizeof(region));
    m_stackHigh = reinterpret_cast<ULONG_PTR>(region.BaseAddress) + region.RegionSize;
    m_stacks.assign(kMaxSamples * kFrames, 0);
    m_nSamples = 0;
    LoadModules();
    m_fStop = false;
    m_worker = std::thread([this] { Run(); });
}

void CSampler::Stop() {
    if (!m_worker.joinable()) return;
    m_fStop = true;
    m_worker.join();
    if (m_hThread) ::CloseHandle(m_hThread);
    m_hThread = nullptr;
}

void CSampler::Run() {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
    unsigned long round = 0;
    while (!m_fStop && m_nSamples < kMaxSamples) {
        ::Sleep(1);
        if (++round % 2000 == 0) LoadModules();  // libraries loaded since (never while stopped)
        SampleOnce();
    }
}

void CSampler::SampleOnce() {
    if (::SuspendThread(m_hThread) == static_cast<DWORD>(-1)) return;
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
    if (::GetThreadContext(m_hThread, &context)) {
        ULONG_PTR* out = &m_stacks[m_nSamples * kFrames];
        const ULONG_PTR low = context.Rsp;
        for (int i = 0; i < kFrames; ++i) {
            const ULONG_PTR pc = context.Rip;
            if (!pc) break;
            out[i] = pc;
            const CModule* module = ModuleOf(pc);
            if (!module) break;
            const RUNTIME_FUNCTION* function = FunctionOf(*module, pc);
            if (function) {
                void* handlerData = nullptr;
                DWORD64 frame = 0;
                ::RtlVirtualUnwind(UNW_FLAG_NHANDLER, module->base, pc, const_cast<RUNTIME_FUNCTION*>(function),
                                   &context, &handlerData, &frame, nullptr);
            } else {
                // A leaf function: its return address is on top of the stack.
                if (context.Rsp < low || context.Rsp + 8 > m_stackHigh) break;
                context.Rip = *reinterpret_cast<const ULONG_PTR*>(context.Rsp);
                context.Rsp += 8;
            }
            if (context.Rsp < low || context.Rsp >= m_stackHigh) break;
        }
        ++m_nSamples;
    }
    ::ResumeThread(m_hThread);
}

void CSampler::Write(const std::string& path) const {
    std::map<std::string, long> stacks;
    for (size_t s = 0; s < m_nSamples; ++s) {
        std::string line;
        for (int i = 0; i < kFrames; ++i) {
            const ULONG_PTR pc = m_stacks[s * kFrames + i];
            if (!pc) break;
            const CModule* module = ModuleOf(pc);
            char piece[300];
            if (module)
                snprintf(piece, sizeof(piece), "%s%s+0x%llx", i ? ";" : "", module->name.c_str(),
                         static_cast<unsigned long long>(pc - module->base));
            else
                snprintf(piece, sizeof(piece), "%s?+0x%llx", i ? ";" : "", static_cast<unsigned long long>(pc));
            line += piece;
        }
        ++stacks[line];
    }
    FILE* f = fopen(path.c_str(), "w");
    if (!f) return;
    for (const auto& s : stacks) fprintf(f, "%ld %s\n", s.second, s.first.c_str());
    fclose(f);
}
