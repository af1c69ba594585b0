// Linked into the injected helper only, never into what ships. Before the helper's own code runs
// it points every function entry of the executable's import address table at a small stub of its
// own. Each stub hands the call to one decision: count the call by its site (the return address,
// as an offset into the image) and, when the plan names this site and this call, return the
// function's documented failure value with the chosen last error, without calling the system;
// otherwise jump on to the real function with the arguments untouched (x64 has one calling
// convention, so one stub shape serves every signature).
//
//   KELDRIX_INJECT=<function>@<site, hex>#<nth call from that site>=<error>
//   KELDRIX_CENSUS=<file>  every call site reached, written at exit: "<function> <site> <calls>
//                          <fitting error, 0 for a function without a failure value>"; a firing
//                          plan appends "injected ..." at once.
// Both are read once and removed from the environment, so that the processes the helper starts
// run uninstrumented.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

// How a function says it failed.
enum class Failure : uint8_t {
    None,          // no failure value: counted, never failed
    Zero,          // FALSE, NULL, 0, with the last error
    MinusOne,      // INVALID_HANDLE_VALUE, WAIT_FAILED, INVALID_FILE_SIZE/ATTRIBUTES, (DWORD)-1,
                   // INVALID_SOCKET, SOCKET_ERROR; with the last error (Winsock's error is the same)
    ErrorItself,   // the error is the result (registry, Winsock start-up); last error untouched
};

struct FailureRule {
    const char* function;
    Failure failure;
    uint32_t fittingError;
};

constexpr uint32_t kDefaultError = ERROR_ACCESS_DENIED;
constexpr uint32_t kOutOfMemory = ERROR_NOT_ENOUGH_MEMORY;
constexpr uint32_t kResources = ERROR_OUTOFMEMORY;
constexpr uint32_t kSharing = ERROR_SHARING_VIOLATION;
constexpr uint32_t kTimeout = ERROR_TIMEOUT;

// The imported functions whose failure is not FALSE or NULL with the last error 5, each with its
// documented failure value and an error a real refusal of it would carry.
constexpr FailureRule kRules[] = {
    {"malloc", Failure::Zero, kOutOfMemory},
    {"calloc", Failure::Zero, kOutOfMemory},
    {"realloc", Failure::Zero, kOutOfMemory},
    {"LocalAlloc", Failure::Zero, kOutOfMemory},
    {"CreateFileW", Failure::MinusOne, kSharing},
    {"CreateJobObjectW", Failure::Zero, kResources},
    {"CreatePipe", Failure::Zero, kResources},
    {"CreateProcessW", Failure::Zero, kResources},
    {"DuplicateTokenEx", Failure::Zero, kResources},
    {"DuplicateHandle", Failure::Zero, kResources},
    {"InitializeProcThreadAttributeList", Failure::Zero, kResources},
    {"WaitForSingleObject", Failure::MinusOne, kTimeout},
    {"WaitForMultipleObjects", Failure::MinusOne, kTimeout},
    {"RegGetValueW", Failure::ErrorItself, kDefaultError},
    {"RegOpenKeyExW", Failure::ErrorItself, kDefaultError},
    {"RegCreateKeyExW", Failure::ErrorItself, kDefaultError},
    {"RegQueryValueExW", Failure::ErrorItself, kDefaultError},
    {"RegEnumValueW", Failure::ErrorItself, kDefaultError},
    {"RegSetValueExW", Failure::ErrorItself, kDefaultError},
    {"RegDeleteValueW", Failure::ErrorItself, kDefaultError},
    {"RegDeleteKeyW", Failure::ErrorItself, kDefaultError},
    {"WSAStartup", Failure::ErrorItself, WSASYSNOTREADY},
    {"socket", Failure::MinusOne, WSAEMFILE},
    {"connect", Failure::MinusOne, WSAECONNREFUSED},
    {"closesocket", Failure::MinusOne, kDefaultError},
    {"WSACleanup", Failure::MinusOne, kDefaultError},
    {"ioctlsocket", Failure::MinusOne, kDefaultError},
    {"select", Failure::MinusOne, kDefaultError},
    {"getsockopt", Failure::MinusOne, kDefaultError},
    {"GetSecurityInfo", Failure::ErrorItself, kDefaultError},
    {"SuspendThread", Failure::MinusOne, kDefaultError},
    {"GetFileSize", Failure::MinusOne, kDefaultError},
    {"GetFileAttributesW", Failure::MinusOne, kDefaultError},
    {"ResumeThread", Failure::MinusOne, kDefaultError},
    {"CommandLineToArgvW", Failure::Zero, kOutOfMemory},
    {"SendMessageTimeoutW", Failure::Zero, kTimeout},
    {"GetStdHandle", Failure::MinusOne, kDefaultError},
};

// Every other kernel, security, shell and user function the helper imports reports failure as
// FALSE, NULL or 0 with the last error. Those that cannot fail are named here, counted and left
// alone; so is the C runtime but for its allocations, and Winsock but for the calls above.
constexpr const char* kCannotFail[] = {
    "GetLastError", "SetLastError", "GetCurrentProcess", "GetCurrentProcessId", "GetCurrentThread",
    "GetCurrentThreadId", "GetTickCount", "GetTickCount64", "Sleep", "GetCommandLineW", "GetCommandLineA",
    "LocalFree", "HeapFree", "GetProcessHeap", "FreeLibrary", "ExitProcess", "GetStartupInfoA",
    "GetStartupInfoW", "GetSystemTimeAsFileTime", "QueryPerformanceCounter", "EnterCriticalSection",
    "LeaveCriticalSection", "InitializeCriticalSection", "DeleteCriticalSection", "TlsGetValue",
    "TlsSetValue", "TlsAlloc", "TlsFree", "RtlCaptureContext", "RtlLookupFunctionEntry", "RtlVirtualUnwind",
    "RtlUnwindEx", "RtlAddFunctionTable", "RaiseException", "SetUnhandledExceptionFilter",
    "UnhandledExceptionFilter", "VirtualProtect", "VirtualQuery", "IsDBCSLeadByteEx",
    "GetLengthSid", "IsValidSid", "EqualSid", "GetSidSubAuthority", "GetSidSubAuthorityCount",
    "WSAGetLastError", "WSASetLastError", "htons", "ntohs", "htonl", "inet_addr", "__WSAFDIsSet",
    "SetErrorMode", "AddVectoredExceptionHandler", "RemoveVectoredExceptionHandler", "DeleteProcThreadAttributeList",
    "GetThreadPriority", "GlobalFree", "IsDebuggerPresent", "OutputDebugStringA", "TryEnterCriticalSection",
    "__C_specific_handler", "RegCloseKey", "LsaNtStatusToWinError",
};

bool IsCRuntime(const char* dll) { return _stricmp(dll, "msvcrt.dll") == 0; }

// The failure of `function`, imported from `dll`; `fittingError` is the error to inject.
Failure FailureOf(const char* dll, const char* function, uint32_t& fittingError) {
    for (const FailureRule& rule : kRules) {
        if (std::strcmp(rule.function, function) == 0) {
            fittingError = rule.fittingError;
            return rule.failure;
        }
    }
    fittingError = 0;
    if (IsCRuntime(dll) || _stricmp(dll, "ws2_32.dll") == 0) return Failure::None;
    for (const char* name : kCannotFail) {
        if (std::strcmp(name, function) == 0) return Failure::None;
    }
    fittingError = kDefaultError;
    return Failure::Zero;
}

struct Import {
    const char* function;
    void* real;
    Failure failure;
    uint32_t fittingError;
};

struct Site {
    uint32_t import;  // index + 1; 0 marks a free slot
    uint32_t rva;
    uint64_t calls;
};

constexpr size_t kMaxImports = 512;
constexpr size_t kMaxSites = 8192;  // a power of two
constexpr size_t kStubBytes = 32;
constexpr uint32_t kOutsideImage = 0xFFFFFFFF;

Import imports[kMaxImports];
size_t importCount = 0;
Site sites[kMaxSites];
uintptr_t imageBase = 0;
bool busy = false;  // set while the injector itself calls imported functions

struct Plan {
    char function[128] = {};
    uint32_t rva = 0;
    uint64_t nth = 0;
    uint32_t error = 0;
    bool active = false;
};
Plan plan;
wchar_t censusPath[MAX_PATH] = {};

Site* SiteOf(uint32_t import, uint32_t rva) {
    size_t slot = ((uint64_t{import} * 0x9E3779B97F4A7C15ull) ^ rva) & (kMaxSites - 1);
    for (size_t probe = 0; probe < kMaxSites; ++probe, slot = (slot + 1) & (kMaxSites - 1)) {
        Site& site = sites[slot];
        if (site.import == import + 1 && site.rva == rva) return &site;
        if (site.import == 0) {
            site.import = import + 1;
            site.rva = rva;
            return &site;
        }
    }
    return nullptr;
}

void AppendToCensus(const char* text) {
    if (censusPath[0] == 0) return;
    const HANDLE file = CreateFileW(censusPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    CloseHandle(file);
}

uint64_t FailureValue(Failure failure, uint32_t error) {
    switch (failure) {
        case Failure::Zero: return 0;
        case Failure::MinusOne: return ~uint64_t{0};
        case Failure::ErrorItself: return error;
        case Failure::None: break;
    }
    return 0;
}

}  // namespace

// Called by the common stub with the import's index and the call's return address. Returns the
// function to go on to, or null with the failure value in `*result`. Uses no imported function
// on the way through, so that nothing disturbs the last error the helper is about to read.
extern "C" __attribute__((used)) void* KeldrixInjectorDecide(uint32_t index, uintptr_t returnAddress,
                                                            uint64_t* result) {
    Import& import = imports[index];
    if (busy) return import.real;
    const uintptr_t offset = returnAddress - imageBase;
    const uint32_t rva = offset < 0x10000000 ? static_cast<uint32_t>(offset) : kOutsideImage;
    Site* site = SiteOf(index, rva);
    if (site == nullptr) return import.real;
    ++site->calls;
    if (!plan.active || import.failure == Failure::None || rva != plan.rva || site->calls != plan.nth ||
        std::strcmp(import.function, plan.function) != 0) {
        return import.real;
    }
    busy = true;
    char line[256];
    std::snprintf(line, sizeof line, "injected %s %x %llu %u\n", import.function, rva,
                  static_cast<unsigned long long>(plan.nth), plan.error);
    AppendToCensus(line);
    busy = false;
    *result = FailureValue(import.failure, plan.error);
    if (import.failure != Failure::ErrorItself) SetLastError(plan.error);
    return nullptr;
}

// rax: the import's index. Saves the argument registers, asks the decision, then either jumps to
// the real function with them restored or returns the failure value.
asm(R"(
    .text
    .globl keldrix_injector_common
keldrix_injector_common:
    push %rcx
    push %rdx
    push %r8
    push %r9
    sub $0x68, %rsp
    movdqu %xmm0, 0x20(%rsp)
    movdqu %xmm1, 0x30(%rsp)
    movdqu %xmm2, 0x40(%rsp)
    movdqu %xmm3, 0x50(%rsp)
    mov %eax, %ecx
    mov 0x88(%rsp), %rdx
    lea 0x60(%rsp), %r8
    call KeldrixInjectorDecide
    mov %rax, %r11
    mov 0x60(%rsp), %rax
    movdqu 0x20(%rsp), %xmm0
    movdqu 0x30(%rsp), %xmm1
    movdqu 0x40(%rsp), %xmm2
    movdqu 0x50(%rsp), %xmm3
    add $0x68, %rsp
    pop %r9
    pop %r8
    pop %rdx
    pop %rcx
    test %r11, %r11
    jz 1f
    jmp *%r11
1:  ret
)");
extern "C" void keldrix_injector_common();

namespace {

// mov eax, index; mov r11, common; jmp r11
void WriteStub(uint8_t* stub, uint32_t index) {
    const uint64_t common = reinterpret_cast<uint64_t>(&keldrix_injector_common);
    stub[0] = 0xB8;
    std::memcpy(stub + 1, &index, 4);
    stub[5] = 0x49;
    stub[6] = 0xBB;
    std::memcpy(stub + 7, &common, 8);
    stub[15] = 0x41;
    stub[16] = 0xFF;
    stub[17] = 0xE3;
}

bool IsCode(const void* address) {
    MEMORY_BASIC_INFORMATION region{};
    if (VirtualQuery(address, &region, sizeof region) == 0) return false;
    return (region.Protect & (PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) != 0;
}

void ReadPlan() {
    wchar_t text[256] = {};
    if (GetEnvironmentVariableW(L"KELDRIX_CENSUS", censusPath, MAX_PATH) >= MAX_PATH) censusPath[0] = 0;
    SetEnvironmentVariableW(L"KELDRIX_CENSUS", nullptr);
    const DWORD length = GetEnvironmentVariableW(L"KELDRIX_INJECT", text, 256);
    SetEnvironmentVariableW(L"KELDRIX_INJECT", nullptr);
    if (length == 0 || length >= 256) return;
    wchar_t* at = std::wcschr(text, L'@');
    wchar_t* hash = std::wcschr(text, L'#');
    wchar_t* equals = std::wcschr(text, L'=');
    if (at == nullptr || hash == nullptr || equals == nullptr || !(at < hash && hash < equals)) return;
    for (size_t i = 0; text + i < at && i + 1 < sizeof plan.function; ++i) {
        plan.function[i] = static_cast<char>(text[i]);
    }
    plan.rva = static_cast<uint32_t>(std::wcstoul(at + 1, nullptr, 16));
    plan.nth = std::wcstoull(hash + 1, nullptr, 10);
    plan.error = static_cast<uint32_t>(std::wcstoul(equals + 1, nullptr, 10));
    plan.active = plan.nth > 0;
}

void WriteCensus() {
    busy = true;
    char line[256];
    for (const Site& site : sites) {
        if (site.import == 0) continue;
        const Import& import = imports[site.import - 1];
        std::snprintf(line, sizeof line, "%s %x %llu %u\n", import.function, site.rva,
                      static_cast<unsigned long long>(site.calls),
                      import.failure == Failure::None ? 0u : import.fittingError);
        AppendToCensus(line);
    }
}

// Runs before every other constructor of the program, and so before main.
__attribute__((constructor(101))) void InstallInjector() {
    // The stubs are executable from the start: the injector's own calls go through them as soon
    // as their entries are rewritten, and are not counted.
    busy = true;
    ReadPlan();
    auto* base = reinterpret_cast<uint8_t*>(GetModuleHandleW(nullptr));
    imageBase = reinterpret_cast<uintptr_t>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* stubs = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, kMaxImports * kStubBytes, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
    if (stubs == nullptr || directory.VirtualAddress == 0) std::abort();
    for (auto* descriptor = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         descriptor->Name != 0; ++descriptor) {
        const char* dll = reinterpret_cast<const char*>(base + descriptor->Name);
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) || importCount == kMaxImports) continue;
            void* real = reinterpret_cast<void*>(slots->u1.Function);
            if (!IsCode(real)) continue;  // an imported datum, such as the runtime's _iob
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            Import& import = imports[importCount];
            import.function = reinterpret_cast<const char*>(byName->Name);
            import.real = real;
            import.failure = FailureOf(dll, import.function, import.fittingError);
            uint8_t* stub = stubs + importCount * kStubBytes;
            WriteStub(stub, static_cast<uint32_t>(importCount));
            ++importCount;
            DWORD old = 0;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
            slots->u1.Function = reinterpret_cast<ULONGLONG>(stub);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
        }
    }
    if (censusPath[0] != 0) std::atexit(WriteCensus);
    busy = false;
}

}  // namespace
