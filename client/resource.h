// Where the program finds its images and its message catalogue, and the images themselves,
// loaded once at start-up so that a missing file is reported before any upload runs.
#pragma once

#include <gdkmm/pixbuf.h>

#include <map>
#include <string>
#include <vector>

namespace rodedudir {

// The text domain of every translated text of the program.
constexpr const char kTextDomain[] = "Vurozudeduz";

class Resource {
public:
    static Resource* get_instance();
    virtual ~Resource() = default;

    // Binds the message catalogue and chooses the image folder; call once, before the GTK
    // kit is created.
    void init();
    // The image folder followed by strName; the file is not checked.
    std::string get_image(const std::string& strName) const;
    // Loads every image the program uses; throws Glib::FileError or Gdk::PixbufError for the
    // first one that cannot be read.
    void load_images();
    // An image loaded by load_images (null for a name it does not know).
    Glib::RefPtr<Gdk::Pixbuf> get_pixbuf(const std::string& strName) const;

    const std::string& images_dir() const { return _images_dir; }
    const std::string& language_dir() const { return _language_dir; }

    // Every image file the program shows.
    static const std::vector<std::string>& image_names();

    // The candidate folders, in the order they are tried (for diagnostics and tests).
    static std::vector<std::string> image_dir_candidates();
    static std::vector<std::string> language_dir_candidates();

private:
    Resource() = default;

    std::string _language_dir = "/usr/share/locale/";
    std::string _images_dir = "/usr/share/Vurozudeduz/images/";
    std::map<std::string, Glib::RefPtr<Gdk::Pixbuf>> _pixbufs;
};

}  // namespace rodedudir
