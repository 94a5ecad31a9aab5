// The file flows of the converter's main window beyond opening: saving, the CSV exchange, the
// attachments and the display programs. Until they are written the buttons do nothing.
#include "bwfmainaa.h"

void TVANTMainAA::SaveFile() {}
void TVANTMainAA::ImportCsvFile(TEditionKey) {}
void TVANTMainAA::ExportCsvFile(TEditionKey) {}
void TVANTMainAA::AttachCsvFile() {}
void TVANTMainAA::DeleteCsvAttachment() {}
void TVANTMainAA::ShowCsvAttachment() {}
void TVANTMainAA::ShowPdfAttachment() {}
void TVANTMainAA::SavePdfAttachment() {}
void TVANTMainAA::SelectCsvApplication() {}
void TVANTMainAA::SelectPdfApplication() {}
void TVANTMainAA::WMCopyData(const std::string&) {}
