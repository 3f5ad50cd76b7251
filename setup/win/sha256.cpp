#include "win/sha256.h"

#include "win/handle.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
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

// The hash of the bytes from `offset` up to `length` more, or to the end of the file when `whole`.
std::string Hash(const std::filesystem::path& file, std::uint64_t offset, std::uint64_t length, bool whole) {
    // The download may still hold the file open for writing.
    const FileHandle in(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    Owner<AlgorithmTraits> algorithm;  // declared first, so it outlives the hash
    Owner<HashTraits> hash;
    LARGE_INTEGER start{};
    start.QuadPart = static_cast<LONGLONG>(offset);
    if (!in || !SetFilePointerEx(in.get(), start, nullptr, FILE_BEGIN) ||
        BCryptOpenAlgorithmProvider(algorithm.Receive(), BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0 ||
        BCryptCreateHash(algorithm.get(), hash.Receive(), nullptr, 0, nullptr, 0, 0) != 0)
        return {};
    std::vector<unsigned char> buffer(1 << 20);
    for (DWORD got = 0; length > 0; length -= got) {
        const DWORD asked = static_cast<DWORD>(std::min<std::uint64_t>(buffer.size(), length));
        if (!ReadFile(in.get(), buffer.data(), asked, &got, nullptr)) return {};
        if (got == 0) {
            if (whole) break;
            return {};  // the file ends before the range
        }
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

}  // namespace

std::string FileSha256(const std::filesystem::path& file) { return Hash(file, 0, UINT64_MAX, true); }

std::string FileSha256(const std::filesystem::path& file, std::uint64_t offset, std::uint64_t length) {
    return Hash(file, offset, length, false);
}

}  // namespace setup::win
