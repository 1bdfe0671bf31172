// Splitting a drop's text into its "file://" entries and turning them into file names.
#include "drop_text.h"

#include <glibmm/convert.h>

#include <iostream>

namespace rodedudir {

std::vector<std::string> split_drop_uris(const std::string& strText) {
    static const std::string kScheme = "file://";
    std::vector<std::string> vUris;
    size_t nPos = strText.find(kScheme);
    while (nPos != std::string::npos) {
        size_t nLineEnd = strText.find('\n', nPos);
        size_t nEnd = nLineEnd == std::string::npos ? strText.size() : nLineEnd;
        if (nEnd > nPos && strText[nEnd - 1] == '\r')
            --nEnd;
        vUris.push_back(strText.substr(nPos, nEnd - nPos));
        if (nLineEnd == std::string::npos)
            break;
        nPos = strText.find(kScheme, nLineEnd + 1);
    }
    return vUris;
}

std::string get_filename_from_uri(const std::string& strUri) {
    try {
        return Glib::filename_from_uri(strUri);
    } catch (const Glib::ConvertError& e) {
        // Written as bytes: a ustring is converted to the locale's charset on output, which
        // throws again, from this handler, when glib's text or the URI it quotes does not fit.
        const std::string strWhy = e.what();
        std::cout << strUri << ", get_filename_from_uri error:" << strWhy << std::endl;
    } catch (...) {
        std::cout << strUri << ", get_filename_from_uri error:unknow error" << std::endl;
    }
    return strUri;
}

}  // namespace rodedudir
