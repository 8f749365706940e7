#pragma once
// flash.utils.ByteArray's buffer: bytes with a position and an endianness,
// the typed readers and writers, and compression. Reads past the end give
// nullopt (EOFError #2030) and leave the position where it was; growth past
// limits::kMaxByteArrayBytes is refused (the VM throws MemoryError #1000).
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace swf::avm2lib {

enum class Endian { Big, Little };
enum class Compression { Zlib, Deflate, Lzma };

class ByteArray {
public:
    static constexpr int kEofErrorId = 2030;        // EOFError: End of file was encountered.
    static constexpr int kDecompressErrorId = 2058; // IOError: There was an error decompressing the data.

    const std::vector<uint8_t>& bytes() const { return m_data; }
    // The bytes in place, for the VM's domain-memory loads and stores (length unchanged).
    std::span<uint8_t> mutableBytes() { return m_data; }
    uint32_t length() const { return uint32_t(m_data.size()); }
    // A shorter length pulls the position back to it; a longer one pads with zeros.
    bool setLength(uint32_t n);
    uint32_t position() const { return m_pos; }
    void setPosition(uint32_t p) { m_pos = p; } // may lie past the end; writes there pad with zeros
    uint32_t bytesAvailable() const { return m_pos < length() ? length() - m_pos : 0; }
    Endian endian() const { return m_endian; }
    void setEndian(Endian e) { m_endian = e; }
    void clear() { m_data.clear(); m_data.shrink_to_fit(); m_pos = 0; }

    // Writers return false when the buffer would outgrow its limit.
    bool writeBytes(std::span<const uint8_t> b);
    bool writeBoolean(bool v) { return writeByte(v ? 1 : 0); }
    bool writeByte(int32_t v) { const uint8_t b = uint8_t(v); return writeBytes({&b, 1}); }
    bool writeShort(int32_t v) { return writeInteger(uint32_t(v), 2); }
    bool writeInt(int32_t v) { return writeInteger(uint32_t(v), 4); }
    bool writeUnsignedInt(uint32_t v) { return writeInteger(v, 4); }
    bool writeFloat(double v);
    bool writeDouble(double v);
    // writeUTF: a 16-bit length and the UTF-8 bytes; false also when the
    // text needs more than 65535 bytes (the VM throws RangeError #2006).
    bool writeUTF(std::u16string_view s);
    bool writeUTFBytes(std::u16string_view s);
    bool writeMultiByte(std::u16string_view s, std::u16string_view charSet);

    std::optional<bool> readBoolean();
    std::optional<int32_t> readByte();
    std::optional<uint32_t> readUnsignedByte();
    std::optional<int32_t> readShort();
    std::optional<uint32_t> readUnsignedShort();
    std::optional<int32_t> readInt();
    std::optional<uint32_t> readUnsignedInt();
    std::optional<double> readFloat();
    std::optional<double> readDouble();
    std::optional<std::u16string> readUTF();
    std::optional<std::u16string> readUTFBytes(uint32_t length);
    std::optional<std::u16string> readMultiByte(uint32_t length, std::u16string_view charSet);
    // readBytes(bytes, offset, length): length 0 takes everything available;
    // `dst` grows to hold offset + length and keeps its position.
    bool readBytesInto(ByteArray& dst, uint32_t offset, uint32_t length);
    std::optional<std::vector<uint8_t>> readRaw(uint32_t length);

    // compress leaves the position at the end, uncompress at 0. A failed
    // uncompress leaves the buffer as it was.
    bool compress(Compression algorithm);
    bool uncompress(Compression algorithm);

private:
    std::vector<uint8_t> m_data;
    uint32_t m_pos = 0;
    Endian m_endian = Endian::Big;

    bool writeInteger(uint32_t v, int size);
    std::optional<uint32_t> readInteger(int size);
};

// Text decoders shared with AMF: Flash stops UTF-8 text at a NUL byte and
// drops a leading byte order mark.
std::u16string decodeUtf8Flash(std::span<const uint8_t> bytes);

} // namespace swf::avm2lib
