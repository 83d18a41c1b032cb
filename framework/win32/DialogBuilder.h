#pragma once
// A dialog template turned into the in-memory DLGTEMPLATEEX the dialog manager creates
// windows from, so every window keeps its dialog-unit geometry and tab order.
#include <cstdint>
#include <string>
#include <vector>

#include "res/DialogTemplates.h"

// The application icon's resource ordinal (the icon controls show it).
constexpr int kApplicationIconId = 128;

// Window style and extended style of the dialog itself.
uint32_t DialogWindowStyle(const DialogTemplate& tmpl);
uint32_t DialogExStyle(const DialogTemplate& tmpl);
// Window class, style and extended style of one control.
std::wstring ControlClassName(ControlKind kind);
uint32_t ControlWindowStyle(const ControlTemplate& line);
uint32_t ControlExStyle(const ControlTemplate& line);

// The template in memory, DWORD-aligned, ready for DialogBoxIndirectParamW and
// CreateDialogIndirectParamW. The face is "MS Shell Dlg" at 8 points.
class CDialogTemplateBlob
{
public:
    explicit CDialogTemplateBlob(const DialogTemplate& tmpl);
    const void* Data() const { return m_words.data(); }
    size_t Size() const { return m_words.size() * sizeof(uint16_t); }

private:
    void Word(uint16_t value) { m_words.push_back(value); }
    void Dword(uint32_t value);
    void String(const std::wstring& text);
    void AlignDword();

    std::vector<uint16_t> m_words;
};
