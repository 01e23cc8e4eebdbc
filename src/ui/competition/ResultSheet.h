#pragma once
// The result sheet of a competition attempt: one page with the count, the
// drummer and round, the speed curve, the figures, the device, detector and
// counting settings, the program's version and the digest that seals it,
// for the judges to sign. Painted once, saved as PDF or printed.
//
// Threads: user-interface thread.

#include "analysis/RunFigures.h"
#include "audit/AuditRecord.h"

#include <QString>

class QPaintDevice;

// Paints the sheet on device (a fresh page of a PDF or a printer, or an image).
void paintResultSheet(QPaintDevice& device, const AuditRecord& record, const RunAnalysis& analysis);
// A one-page A4 PDF at path; false with error set when it cannot be written.
bool saveResultSheetPdf(const QString& path, const AuditRecord& record, const RunAnalysis& analysis, QString& error);
