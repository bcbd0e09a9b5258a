// Writes the placeholder 160T bitstream: exactly the card's bitstream size,
// deterministic (the same bytes on every build), never checked in.
#include <cstdint>
#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 2;
    }
    constexpr std::size_t kSize = 6'692'688;
    std::vector<std::uint8_t> bytes(kSize);
    std::uint32_t state = 0x160C0DE5u;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
