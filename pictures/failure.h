#pragma once
// A failure that ends the current command and is shown to the player in the error box.
// The message is UTF-8 text meant for the player.

#include <stdexcept>
#include <string>

namespace pictures {

class Failure : public std::runtime_error {
public:
    explicit Failure(const std::string& message) : std::runtime_error(message) {}
};

// Texts shared by the readers and the picture surfaces.
inline constexpr const char* kBitmapInvalid = "ビットマップイメージが不正です";
inline constexpr const char* kStreamReadError = "ストリームからの読み込みエラー";
inline constexpr const char* kOutOfResources = "システム リソースが足りません";
inline constexpr const char* kBitmapOnly = "ビットマップを持っている時のみイメージの変更が可能です";

// Largest pixel storage one picture may take. A picture lives up to three times at once
// (source, work and board), so this keeps the worst case near 3 GiB while leaving room for
// photos far beyond today's cameras (a 24-bit 100-megapixel picture takes 300 MiB).
inline constexpr long long kMaxPictureBytes = 1LL << 30;
inline constexpr int kMaxPictureSide = 65535;

}  // namespace pictures
