// Random tokens and the clock for the handlers.
#include "ServiceContext.h"

#include <ctime>
#include <random>

namespace standin {

std::string RandomToken(size_t nLength) {
    static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 rng(std::random_device{}());
    std::uniform_int_distribution<size_t> pick(0, sizeof(kAlphabet) - 2);
    std::string strToken;
    strToken.reserve(nLength);
    for (size_t i = 0; i < nLength; ++i)
        strToken += kAlphabet[pick(rng)];
    return strToken;
}

long long NowSeconds() {
    return static_cast<long long>(time(nullptr));
}

}  // namespace standin
