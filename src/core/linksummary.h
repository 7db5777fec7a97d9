#pragma once

// The tray hint of a running link.

#include "core/texts.h"

#include <string>
#include <string_view>

namespace bramblet {

// Four lines joined by CR LF, none after the last, UTF-8:
//   " 对方真实地址为：" peer address
//   " 速度：" speed word
//   " 稳定性：" stability word
//   " 丢包：" loss word
std::string linkSummary(std::string_view peerRealAddress, std::string_view speedRating,
                        std::string_view stabilityRating, std::string_view lossRating,
                        const texts::Translator &translator = texts::untranslated);

} // namespace bramblet
