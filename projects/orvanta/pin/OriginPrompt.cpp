#include "pin/OriginPrompt.h"

namespace orv {

const char* const kOriginPromptCaption = "Доступ к токену";
const char* const kOriginAllowText = "Разрешить";
const char* const kOriginDenyText = "Запретить";
const char* const kOriginLaterText = "Не сейчас";

std::string originPromptText(const std::string& origin) {
    return "Сайт " + origin + " просит доступ к токену. Разрешить?";
}

} // namespace orv
