#pragma once
// A sampling profiler for one thread of this process, for the benchmarks only: a worker thread
// stops the watched thread about once a millisecond, reads its call stack (unwinding with the
// modules' own unwind tables) and lets it go on. The stacks are written out as module+offset
// lines, to be resolved with addr2line.
//
// Nothing is allocated while the watched thread is stopped (it may hold the heap's lock), and the
// unwind tables are looked up here rather than through the loader (whose lock it may hold too).
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

class CSampler {
public:
    static constexpr int kFrames = 24;
    static constexpr size_t kMaxSamples = 400000;

    CSampler() = default;
    ~CSampler() { Stop(); }
    CSampler(const CSampler&) = delete;
    CSampler& operator=(const CSampler&) = delete;

    // Starts sampling the calling thread.
    void Start();
    void Stop();
    // Writes "count module+offset;module+offset;..." lines (leaf first), one per distinct stack.
    void Write(const std::string& path) const;
    size_t Samples() const noexcept { return m_nSamples; }

private:
    struct CModule {
        ULONG_PTR base = 0;
        ULONG_PTR end = 0;
        const RUNTIME_FUNCTION* functions = nullptr;
        DWORD count = 0;
        std::string name;
    };
    void LoadModules();
    const CModule* ModuleOf(ULONG_PTR pc) const noexcept;
    const RUNTIME_FUNCTION* FunctionOf(const CModule& module, ULONG_PTR pc) const noexcept;
    void Run();
    void SampleOnce();

    std::vector<CModule> m_modules;
    std::vector<ULONG_PTR> m_stacks;  // kFrames per sample, zero-padded
    size_t m_nSamples = 0;
    HANDLE m_hThread = nullptr;
    ULONG_PTR m_stackLow = 0, m_stackHigh = 0;
    std::atomic<bool> m_fStop{false};
    std::thread m_worker;
};
