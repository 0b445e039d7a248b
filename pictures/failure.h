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

}  // namespace pictures
