#include "win/sha256.h"

#include "win/handle.h"

#include <windows.h>
#include <bcrypt.h>

#include <vector>

namespace setup::win {
namespace {

struct AlgorithmTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static Type Empty() { return nullptr; }
    static void Close(Type algorithm) { BCryptCloseAlgorithmProvider(algorithm, 0); }
};

struct HashTraits {
    using Type = BCRYPT_HASH_HANDLE;
    static Type Empty() { return nullptr; }
    static void Close(Type hash) { BCryptDestroyHash(hash); }
};

}  // namespace

std::string FileSha256(const std::filesystem::path& file) {
    // The download may still hold the file open for writing.
    const FileHandle in(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    Owner<AlgorithmTraits> algorithm;  // declared first, so it outlives the hash
    Owner<HashTraits> hash;
    if (!in || BCryptOpenAlgorithmProvider(algorithm.Receive(), BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0 ||
        BCryptCreateHash(algorithm.get(), hash.Receive(), nullptr, 0, nullptr, 0, 0) != 0)
        return {};
    std::vector<unsigned char> buffer(1 << 20);
    for (DWORD got = 0;;) {
        if (!ReadFile(in.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return {};
        if (got == 0) break;
        if (BCryptHashData(hash.get(), buffer.data(), got, 0) != 0) return {};
    }
    unsigned char digest[32];
    if (BCryptFinishHash(hash.get(), digest, sizeof digest, 0) != 0) return {};
    std::string hex;
    for (const unsigned char byte : digest) {
        hex += "0123456789abcdef"[byte >> 4];
        hex += "0123456789abcdef"[byte & 15];
    }
    return hex;
}

}  // namespace setup::win
