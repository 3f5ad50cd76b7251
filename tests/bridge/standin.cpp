// The Windows side of the bridge: one console program that stands in for a Linux tool. Copied
// as git.exe, python.exe, tar.exe and so on, it asks the bridge server on loopback to run the
// real tool of its own file name, with its arguments and working folder in Unix form, relays
// the tool's merged output to its standard output as it arrives, and exits with the tool's exit
// code. When the stand-in dies, its connection drops and the server kills the tool.
//
// Wire format, both ways little-endian. The request: a u32 count of fields, then each field as a
// u32 length and its bytes: the tool, the working folder, the folders of PATH (separated by NUL
// bytes), the variables that the setup sets for its children ("NAME=value", separated by NUL
// bytes), then one field per argument. The answer: 'o', a u32 length and that much output, as
// often as needed, then 'x' and the exit code as an i32.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cwctype>
#include <string>
#include <vector>

namespace {

// Wine's kernel32 export that names the Unix file behind a Windows path. The string it returns
// comes from the process heap.
using UnixNameFunction = char*(__cdecl*)(const wchar_t*);
UnixNameFunction s_unixName = nullptr;

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                        nullptr);
    return bytes;
}

std::wstring FullPath(const std::wstring& path) {
    std::wstring full(32768, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    full.resize(length < full.size() ? length : 0);
    return full;
}

// A path that doesn't exist yet (a clone's target, say) is named through its nearest existing
// ancestor, which Wine can always name.
std::string UnixPath(const std::wstring& fullPath) {
    const size_t slash = fullPath.find_last_of(L"\\/");
    const bool root = slash == std::wstring::npos || slash < 3 || slash + 1 >= fullPath.size();
    if (!root && GetFileAttributesW(fullPath.c_str()) == INVALID_FILE_ATTRIBUTES)
        return UnixPath(fullPath.substr(0, slash)) + "/" + Utf8(fullPath.substr(slash + 1));
    char* name = s_unixName(fullPath.c_str());
    if (!name) return Utf8(fullPath);
    std::string result(name);
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// An argument is a Windows path when it starts with a drive ("C:\", "Z:/"), or when it holds a
// backslash and names something inside an existing folder ("tools\build.py"). Anything else (a
// URL, an option, a tag, Python code) goes over unchanged.
std::string Argument(const std::wstring& argument) {
    const bool drive = argument.size() >= 3 && std::iswalpha(argument[0]) && argument[1] == L':' &&
                       (argument[2] == L'\\' || argument[2] == L'/');
    if (drive) return UnixPath(FullPath(argument));
    if (argument.find(L'\\') != std::wstring::npos) {
        const std::wstring full = FullPath(argument);
        const size_t slash = full.find_last_of(L'\\');
        if (!full.empty() && slash != std::wstring::npos && IsFolder(full.substr(0, slash + 1))) return UnixPath(full);
    }
    return Utf8(argument);
}

std::string PathFolders() {
    std::wstring path(32768, L'\0');
    path.resize(GetEnvironmentVariableW(L"PATH", path.data(), static_cast<DWORD>(path.size())));
    std::string folders;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find(L';', start), path.size());
        if (end > start) folders += UnixPath(FullPath(path.substr(start, end - start))) + '\0';
        start = end + 1;
    }
    return folders;
}

// What the setup sets for its children, which the real tool gets too: git's settings, Python's and
// the proxies. A value that is a Windows path (a safe.directory) is given in Unix form.
bool Passed(const std::wstring& name) {
    for (const wchar_t* start : {L"GIT_CONFIG_", L"PYTHON"})
        if (_wcsnicmp(name.c_str(), start, wcslen(start)) == 0) return true;
    for (const wchar_t* whole : {L"HTTP_PROXY", L"HTTPS_PROXY", L"NO_PROXY"})
        if (_wcsicmp(name.c_str(), whole) == 0) return true;
    return false;
}

std::string Variables() {
    std::string variables;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; *entry; entry += wcslen(entry) + 1) {
        const std::wstring text = entry;
        const size_t equals = text.find(L'=', 1);  // "=C:=C:\..." names start with "="
        if (equals != std::wstring::npos && Passed(text.substr(0, equals)))
            variables += Utf8(text.substr(0, equals)) + "=" + Argument(text.substr(equals + 1)) + '\0';
    }
    FreeEnvironmentStringsW(block);
    return variables;
}

// The tool is the program's own file name without ".exe", in lower case: git, python, tar...
std::wstring ToolName() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
    if (name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".exe") == 0) name.resize(name.size() - 4);
    for (wchar_t& c : name) c = std::towlower(c);
    return name;
}

void AppendU32(std::string& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xff);
}

std::string Request(int argc, wchar_t** argv) {
    std::vector<std::string> fields = {Utf8(ToolName()), UnixPath(FullPath(L".")), PathFolders(), Variables()};
    for (int i = 1; i < argc; ++i) fields.push_back(Argument(argv[i]));
    std::string request;
    AppendU32(request, static_cast<uint32_t>(fields.size()));
    for (const std::string& field : fields) {
        AppendU32(request, static_cast<uint32_t>(field.size()));
        request += field;
    }
    return request;
}

class Socket {
public:
    Socket() : socket_(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {}
    ~Socket() {
        if (socket_ != INVALID_SOCKET) closesocket(socket_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool Connect(u_short port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return socket_ != INVALID_SOCKET &&
               connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    bool Send(const std::string& bytes) {
        for (size_t sent = 0; sent < bytes.size();) {
            const int n = send(socket_, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
            if (n <= 0) return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }
    bool Receive(char* buffer, size_t size) {
        for (size_t got = 0; got < size;) {
            const int n = recv(socket_, buffer + got, static_cast<int>(size - got), 0);
            if (n <= 0) return false;
            got += static_cast<size_t>(n);
        }
        return true;
    }
    bool ReceiveU32(uint32_t& value) {
        unsigned char bytes[4];
        if (!Receive(reinterpret_cast<char*>(bytes), sizeof bytes)) return false;
        value = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
        return true;
    }

private:
    SOCKET socket_;
};

void Print(const char* bytes, size_t size) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes, static_cast<DWORD>(size), &written, nullptr);
}

int Fail(const std::string& message) {
    const std::string line = "bridge: " + message + "\n";
    Print(line.data(), line.size());
    return 127;
}

// Relays the answer; the exit code, or -1 when the answer breaks off.
int Relay(Socket& bridge) {
    std::vector<char> buffer;
    for (char kind; bridge.Receive(&kind, 1);) {
        uint32_t value = 0;
        if (!bridge.ReceiveU32(value)) break;
        if (kind == 'x') return static_cast<int>(value);
        buffer.resize(value);
        if (kind != 'o' || !bridge.Receive(buffer.data(), buffer.size())) break;
        Print(buffer.data(), buffer.size());
    }
    return -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    s_unixName = reinterpret_cast<UnixNameFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!s_unixName) return Fail("this stand-in runs only under Wine");

    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return Fail("Winsock didn't start");
    Socket bridge;
    if (!bridge.Connect(QUORIN_BRIDGE_PORT))
        return Fail("can't reach the bridge server on 127.0.0.1:" + std::to_string(QUORIN_BRIDGE_PORT) +
                    " (start it with ./dev sandbox)");
    if (!bridge.Send(Request(argc, argv))) return Fail("the bridge server didn't take the request");
    const int code = Relay(bridge);
    return code == -1 ? Fail("the connection to the bridge server broke off") : code;
}
