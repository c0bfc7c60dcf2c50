// Form encoding of query values and the percent-decoding of the account service's reply.
#pragma once

#include <stdexcept>
#include <string>

// Letters, digits and - _ . ! * ~ \ ( ) are copied, a blank becomes "+", every other
// character is written as its UTF-8 bytes in "%xx" form (lower-case hex).
std::string fnstUrlEncodeUTF8(const std::string& stInput);

// Text put into a URL as typed, except the bytes a URL cannot carry (blanks, controls, quotes,
// angle brackets, "#", non-ASCII, ...), which are written as "%XX".
std::string EscapeUrlUnsafe(const std::string& text);

// A reply value that cannot be decoded; what() is the text for the user.
class DecodeError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "%xx" gives the byte xx, "+" a blank, anything else itself; the result is UTF-8 text.
// Throws DecodeError for a "%" with fewer than two characters after it or with two
// characters that are not both hex digits.
std::string PercentDecode(const std::string& text);
