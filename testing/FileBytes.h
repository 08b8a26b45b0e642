// Whole files as bytes or text, for tests that build inputs and read results.
//
// Thread safety: plain functions; any thread, on files the caller owns.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vel::testing {

using Bytes = std::vector<std::uint8_t>;

// The file's bytes; empty when it cannot be read.
Bytes ReadBytes(const std::filesystem::path& file);
// Replaces the file with bytes; false when it cannot be written.
bool WriteBytes(const std::filesystem::path& file, const Bytes& bytes);
std::string ReadText(const std::filesystem::path& file);
void WriteText(const std::filesystem::path& file, const std::string& text);

}  // namespace vel::testing
