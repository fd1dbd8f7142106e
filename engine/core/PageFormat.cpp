#include "core/PageFormat.h"

namespace tiv::page {

const char* PageTypeText(uint16_t type) {
  switch (type) {
    case ptUnknown: return "Unknown Page";
    case ptEmpty: return "Empty Page";
    case ptEAM: return "EAM Page";
    case ptPFS: return "PFS Page";
    case ptFileSystemDirectory: return "FileSystemDirectory Page";
    case ptActiveSessionList: return "ActiveSessionList Page";
    case ptTableList: return "TableList Page";
    case ptTableLocks: return "TableLocks Page";
    case ptTableMetaData: return "TableMetaData Page";
    case ptTableMostUpdated: return "TableMostUpdated Page";
    case ptTableRecord: return "TableRecord Page";
    case ptTableBlob: return "TableBlob Page";
    case ptTableIndex: return "TableIndex Page";
    default: return "Unknown Page";
  }
}

}  // namespace tiv::page
