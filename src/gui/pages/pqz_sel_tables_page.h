// The table selection page of this program: no re-order buttons.
#pragma once

#include "gui/pages/sel_tables_page.h"

class pqz_sel_tables_page : public sel_tables_page {
public:
    pqz_sel_tables_page() : sel_tables_page(false) {}
};
