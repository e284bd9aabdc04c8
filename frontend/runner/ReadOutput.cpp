#include "runner/ReadOutput.h"

namespace korvalinfe {

ReadOutput::ReadOutput(QWidget* parent) : QWidget(parent), sInterpreter(QStringLiteral("/bin/sh")) {}
ReadOutput::~ReadOutput() = default;
void ReadOutput::ProcessCommand() {}
void ReadOutput::CancelProcess() {}
bool ReadOutput::CloseProcess(std::int32_t, std::uint32_t) { return false; }
void ReadOutput::resizeEvent(QResizeEvent* event) { QWidget::resizeEvent(event); }
void ReadOutput::RunCommand(const QString&) {}
void ReadOutput::reapFinished() {}

}  // namespace korvalinfe
