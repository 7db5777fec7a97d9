#include "core/linksummary.h"

namespace bramblet {

std::string linkSummary(std::string_view peerRealAddress, std::string_view speedRating,
                        std::string_view stabilityRating, std::string_view lossRating)
{
    std::string text;
    text.append(" 对方真实地址为：").append(peerRealAddress).append("\r\n");
    text.append(" 速度：").append(speedRating).append("\r\n");
    text.append(" 稳定性：").append(stabilityRating).append("\r\n");
    text.append(" 丢包：").append(lossRating);
    return text;
}

} // namespace bramblet
