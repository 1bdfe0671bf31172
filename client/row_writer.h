// Writes a list row's changed values in one go. A tree store tells the view of every write and
// finds the row's place for it by walking the rows before it, so a report that set each column
// on its own would cost a walk of the list per column.
#pragma once

#include <gtkmm/treestore.h>

#include <vector>

namespace rodedudir {

class RowWriter {
public:
    RowWriter(const Glib::RefPtr<Gtk::TreeStore>& refStore, const Gtk::TreeModel::iterator& iter)
        : m_refStore(refStore), m_iter(iter) {}
    ~RowWriter();
    RowWriter(const RowWriter&) = delete;
    RowWriter& operator=(const RowWriter&) = delete;

    // Takes the value when it differs from the row's.
    template <typename T>
    void set(const Gtk::TreeModelColumn<T>& column, const T& value) {
        T current = (*m_iter)[column];
        if (current == value)
            return;
        Glib::Value<T> wrapped;
        wrapped.init(Glib::Value<T>::value_type());
        wrapped.set(value);
        GValue copy = G_VALUE_INIT;
        g_value_init(&copy, G_VALUE_TYPE(wrapped.gobj()));
        g_value_copy(wrapped.gobj(), &copy);
        m_columns.push_back(column.index());
        m_values.push_back(copy);
    }
    // Writes what changed; the view hears of the row once.
    void commit();

private:
    Glib::RefPtr<Gtk::TreeStore> m_refStore;
    Gtk::TreeModel::iterator m_iter;
    std::vector<int> m_columns;
    std::vector<GValue> m_values;
};

}  // namespace rodedudir
