// The Base64 text of bytes through Crypto++, in a library of its own: Crypto++
// takes milliseconds to load (its relocations and static objects), and most
// processes never turn a byte array into text. CYVariant loads this library
// when it first does (ylib/Base64.h).
#include <cryptopp/argnames.h>
#include <cryptopp/base64.h>
#include <cryptopp/filters.h>

#include <cstddef>
#include <cstring>
#include <string>

// Encodes size bytes at data as one line (standard alphabet, "=" padding) into
// out when capacity holds it; returns the length of the text either way, or
// 0 for no bytes. Never throws.
extern "C" [[gnu::visibility("default")]] std::size_t VelBase64Encode(const unsigned char* data, std::size_t size,
                                                                      char* out, std::size_t capacity) noexcept {
  if (size == 0) return 0;
  try {
    std::string encoded;
    CryptoPP::Base64Encoder encoder(new CryptoPP::StringSink(encoded));
    encoder.IsolatedInitialize(
        CryptoPP::MakeParameters(CryptoPP::Name::InsertLineBreaks(), false)(CryptoPP::Name::MaxLineLength(), 72));
    encoder.Put(data, size);
    encoder.MessageEnd();
    if (encoded.size() <= capacity && out != nullptr) std::memcpy(out, encoded.data(), encoded.size());
    return encoded.size();
  } catch (...) {
    return 0;
  }
}
