// The image and catalogue lookup: the system folders first, then the install prefix, then the
// folder of the program itself, then the working directory, so the program starts the same
// from a desktop launcher, an install under /usr/local, or its build folder.
#include "resource.h"

#include <libintl.h>
#include <unistd.h>

#include <climits>

namespace rodedudir {

namespace {

// the file whose presence decides the image folder
const char kProbeImage[] = "zov_uploading.png";
const char kCatalogueFile[] = "zh_CN/LC_MESSAGES/Vurozudeduz.mo";

bool IsReadable(const std::string& strPath) {
    return access(strPath.c_str(), R_OK) == 0;
}

// The folder of the running program, with a trailing "/"; empty when it cannot be read.
std::string ExecutableDir() {
    char szPath[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", szPath, sizeof(szPath) - 1);
    if (n <= 0)
        return std::string();
    std::string strPath(szPath, static_cast<size_t>(n));
    return strPath.substr(0, strPath.rfind('/') + 1);
}

std::vector<std::string> Candidates(const std::string& strSystem, const std::string& strPrefix,
                                    const std::string& strBeside,
                                    const std::string& strWorkingDir) {
    std::vector<std::string> vDirs = {strSystem};
    if (strPrefix != strSystem)
        vDirs.push_back(strPrefix);
    std::string strExeDir = ExecutableDir();
    if (!strExeDir.empty()) {
        vDirs.push_back(strExeDir + strBeside);
        // a build folder keeps its programs in bin/ beside images/ and mo/
        vDirs.push_back(strExeDir + "../" + strBeside);
        // a copy moved with its share folder
        vDirs.push_back(
            strExeDir + "../share/" +
            (strBeside == "images/" ? std::string("Vurozudeduz/images/") : std::string("locale/")));
    }
    vDirs.push_back(strWorkingDir);
    return vDirs;
}

}  // namespace

Resource* Resource::get_instance() {
    static Resource instance;
    return &instance;
}

const std::vector<std::string>& Resource::image_names() {
    static const std::vector<std::string> vNames = {
        "logo_small.png",       "bg.png",
        "zov_webdisk.png",      "zov_msg.png",
        "zov_drag.png",         "zov_status.png",
        "zov_add.png",          "zov_del.png",
        "zov_clear.png",        "zov_start.png",
        "zov_stop.png",         "zov_user_login.png",
        "zov_user_logout.png",  "zov_folder_flag.png",
        "zov_file_flag.png",    "zov_upload_wait.png",
        "zov_uploading.png",    "zov_upload_finish.png",
        "zov_upload_error.png",
    };
    return vNames;
}

std::vector<std::string> Resource::image_dir_candidates() {
    return Candidates("/usr/share/Vurozudeduz/images/",
                      VELMO_INSTALL_DATADIR "/Vurozudeduz/images/", "images/", "./images/");
}

std::vector<std::string> Resource::language_dir_candidates() {
    return Candidates("/usr/share/locale/", VELMO_INSTALL_LOCALEDIR "/", "mo/", "./mo/");
}

void Resource::init() {
    // the catalogue: the first folder that holds the Chinese one; without any, "./mo"
    _language_dir = "./mo";
    for (const std::string& strDir : language_dir_candidates())
        if (IsReadable(strDir + kCatalogueFile)) {
            _language_dir = strDir;
            break;
        }
    bindtextdomain(kTextDomain, _language_dir.c_str());
    textdomain(kTextDomain);
    bind_textdomain_codeset(kTextDomain, "UTF-8");

    std::vector<std::string> vImageDirs = image_dir_candidates();
    _images_dir = vImageDirs.back();
    for (const std::string& strDir : vImageDirs)
        if (IsReadable(strDir + kProbeImage)) {
            _images_dir = strDir;
            break;
        }
}

std::string Resource::get_image(const std::string& strName) const {
    return _images_dir + strName;
}

void Resource::load_images() {
    std::map<std::string, Glib::RefPtr<Gdk::Pixbuf>> pixbufs;
    for (const std::string& strName : image_names())
        pixbufs[strName] = Gdk::Pixbuf::create_from_file(get_image(strName));
    _pixbufs.swap(pixbufs);
}

Glib::RefPtr<Gdk::Pixbuf> Resource::get_pixbuf(const std::string& strName) const {
    std::map<std::string, Glib::RefPtr<Gdk::Pixbuf>>::const_iterator it = _pixbufs.find(strName);
    return it == _pixbufs.end() ? Glib::RefPtr<Gdk::Pixbuf>() : it->second;
}

}  // namespace rodedudir
