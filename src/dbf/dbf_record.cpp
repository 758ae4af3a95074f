#include "dbf/dbf_record.h"

dbf_record::~dbf_record() = default;
