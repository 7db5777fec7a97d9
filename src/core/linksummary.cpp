#include "core/linksummary.h"

namespace bramblet {

std::string linkSummary(std::string_view peerRealAddress, std::string_view speedRating,
                        std::string_view stabilityRating, std::string_view lossRating,
                        const texts::Translator &translator)
{
    std::string text;
    text.append(translator("linksummary", BRAMBLET_TRANSLATE_NOOP("linksummary", " 对方真实地址为："))).append(peerRealAddress).append("\r\n");
    text.append(translator("linksummary", BRAMBLET_TRANSLATE_NOOP("linksummary", " 速度："))).append(speedRating).append("\r\n");
    text.append(translator("linksummary", BRAMBLET_TRANSLATE_NOOP("linksummary", " 稳定性："))).append(stabilityRating).append("\r\n");
    text.append(translator("linksummary", BRAMBLET_TRANSLATE_NOOP("linksummary", " 丢包："))).append(lossRating);
    return text;
}

} // namespace bramblet
