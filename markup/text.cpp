// placeholder until the text toolkit lands
#include "markup/text.hpp"
std::int32_t floatMaxFractionDigits = -1;
bool floatWriteZeroIntegerPart = true;
std::string formatFloat(double) { return "0"; }
TextBuffer::TextBuffer(const char* text) : text_(text) {}
void TextBuffer::adopt(std::string text) { text_ = std::move(text); }
void TextBuffer::prepend(const char* text) { text_.insert(0, text); }
