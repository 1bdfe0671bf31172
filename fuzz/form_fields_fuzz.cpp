// The stand-in's form and query reader on any bytes: a field's raw value is a stretch of the
// text right after its key, whether the request names its fields or not, and decoding never
// makes it longer; whatever the client encodes reads back as it was.
#include <vector>

#include "FormFields.h"
#include "fuzz_check.h"
#include "http/FormText.h"

using standin::FormFields;

namespace {

// a dispatch body's fields: the request where a raw "&" in a file name matters
const std::vector<std::string> kBodyKeys = {"userid", "filename", "filesize", "target",
                                            "path",   "fileid",   "quickid",  "pickcode"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    const std::string strText = FuzzText(pData, nSize);
    for (const std::vector<std::string>& vKnownKeys : {kBodyKeys, std::vector<std::string>()}) {
        const FormFields fields = FormFields::Parse(strText, vKnownKeys);
        for (const std::string& strKey : kBodyKeys)
            if (fields.Has(strKey)) {
                const std::string strRaw = fields.GetRaw(strKey);
                FUZZ_CHECK(strText.find(strKey + "=" + strRaw) != std::string::npos);
                FUZZ_CHECK(fields.Get(strKey).size() <= strRaw.size());
            }
    }

    _VelmoUpload::FormText form;
    form.Add("filename", strText).Add("path", strText);
    const FormFields back = FormFields::Parse(form.Text(), kBodyKeys);
    FUZZ_CHECK(back.Get("filename") == strText && back.Get("path") == strText);
    return 0;
}
