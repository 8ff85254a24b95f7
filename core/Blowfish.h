// Blowfish block cipher (16 rounds, the published P-array and S-boxes and key
// schedule). The account file is enciphered with it block by block (ECB).
// Each 8-byte block is two 32-bit halves, bytes 0..3 the left and 4..7 the
// right, each most significant byte first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

enum class BlowfishMode {
  ECB = 0,  // every 8-byte block on its own
};

class Blowfish {
 public:
  static constexpr std::size_t kBlockSize = 8;
  static constexpr std::size_t kMaxKeyLength = 56;

  // Runs the key schedule on the first `keyLength` bytes of `key` (cut to 56).
  // Throws std::invalid_argument("Incorrect key length") for a length of 0.
  Blowfish(const unsigned char* key, std::size_t keyLength);
  // The same on the bytes of a text; a length beyond the text also throws
  // "Incorrect key length".
  Blowfish(std::string_view key, std::size_t keyLength);

  // One block as its two halves, in place.
  void EncryptBlock(std::uint32_t& left, std::uint32_t& right) const;
  void DecryptBlock(std::uint32_t& left, std::uint32_t& right) const;

  // A whole buffer in place, each 8-byte block on its own. Throws
  // std::invalid_argument("Incorrect buffer length") when its length is 0 or
  // not a multiple of 8, and leaves the buffer as it was.
  void Encrypt(std::span<unsigned char> buffer, BlowfishMode mode = BlowfishMode::ECB) const;
  void Decrypt(std::span<unsigned char> buffer, BlowfishMode mode = BlowfishMode::ECB) const;
  void Encrypt(std::string& buffer, BlowfishMode mode = BlowfishMode::ECB) const;
  void Decrypt(std::string& buffer, BlowfishMode mode = BlowfishMode::ECB) const;

 private:
  std::uint32_t F(std::uint32_t x) const;
  void Run(std::span<unsigned char> buffer, BlowfishMode mode, bool encrypt) const;

  std::array<std::uint32_t, 18> p_{};
  std::array<std::array<std::uint32_t, 256>, 4> s_{};
};
