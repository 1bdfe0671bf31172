// The one write of a row's changes.
#include "row_writer.h"

namespace rodedudir {

RowWriter::~RowWriter() {
    for (GValue& value : m_values)
        g_value_unset(&value);
}

void RowWriter::commit() {
    if (m_columns.empty())
        return;
    gtk_tree_store_set_valuesv(m_refStore->gobj(), const_cast<GtkTreeIter*>(m_iter.gobj()),
                               m_columns.data(), m_values.data(),
                               static_cast<gint>(m_values.size()));
    for (GValue& value : m_values)
        g_value_unset(&value);
    m_values.clear();
    m_columns.clear();
}

}  // namespace rodedudir
