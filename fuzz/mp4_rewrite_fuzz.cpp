// libFuzzer target for the MP4 user-data rewrite planner: arbitrary bytes as
// a file's content (all but the last byte), a new udta whose size the last
// byte picks (small enough for any padding, or larger than a 4 KiB free atom).
// A written plan is assembled and must be a file in which the new udta is
// found where it was put; anything else aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "audio/mp4/Mp4RewritePlan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::span<const std::uint8_t> file(data, size - 1);
  const std::size_t body = static_cast<std::size_t>(data[size - 1]) * 17;
  std::vector<std::uint8_t> built;
  const Mp4RewritePlan plan = PlanMp4UserDataRewrite(
      file, [&](std::span<const std::uint8_t> old, vel::ByteOrder order) -> std::optional<std::vector<std::uint8_t>> {
        // Keeps what it can of the old atom's body, as a tag editor would.
        built.assign(body + 8, 0);
        vel::StoreU32Unchecked(built.data(), static_cast<std::uint32_t>(built.size()), order);
        vel::StoreU32Unchecked(built.data() + 4, Mp4Type("udta"), order);
        for (std::size_t i = 8; i < old.size() && i < built.size(); ++i) built[i] = old[i];
        return built;
      });
  if (plan.status != Mp4RewriteStatus::kWritten) {
    if (!plan.pieces.empty()) std::abort();
    return 0;
  }
  const std::vector<std::uint8_t> out = AssembleMp4Rewrite(file, plan);
  if (out.size() != plan.size) std::abort();
  Mp4RewriteStatus failure = Mp4RewriteStatus::kWritten;
  const auto place = FindMp4UserData(out, failure);
  if (!place || !place->udta || place->udta->size != built.size()) std::abort();
  for (std::size_t i = 0; i < built.size(); ++i) {
    if (out[place->udta->offset + i] != built[i]) std::abort();
  }
  return 0;
}
