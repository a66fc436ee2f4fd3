// CScript and CScriptCommand: the in-memory script.
#include "script/script.h"

#include <algorithm>

CScriptCommand::CScriptCommand(int32_t id) : m_nID(id) {
    m_nParam.fill(PARAM_UNSET);
    m_fParam.fill(PARAM_UNSET_FLOAT);
    m_crColor.fill(0);
}

CScript::~CScript() { RemoveAll(); }

CScriptCommand* CScript::GetCommand(int index) const {
    if (index < 0 || index >= GetCount()) return nullptr;
    return m_commands[static_cast<size_t>(index)];
}

void CScript::SetCommand(int index, CScriptCommand* command) {
    if (index < 0 || index >= GetCount()) return;
    m_commands[static_cast<size_t>(index)] = command;
}

CScriptCommand* CScript::InsertCommand(std::unique_ptr<CScriptCommand> command, int index) {
    if (!command) return nullptr;
    CScriptCommand* raw = command.get();
    const int count = GetCount();
    if (count > 0 && index >= 0 && index <= count) {
        const int at = std::min(index + 1, count);
        m_commands.insert(m_commands.begin() + at, raw);
    } else {
        m_commands.push_back(raw);
    }
    command.release();
    return raw;
}

void CScript::RemoveCommand(int index) {
    if (index < 0 || index >= GetCount()) return;
    delete m_commands[static_cast<size_t>(index)];
    m_commands.erase(m_commands.begin() + index);
}

void CScript::RemoveAll() {
    for (CScriptCommand* c : m_commands) delete c;
    m_commands.clear();
}

CScriptCommand* CScript::FindCommand(int32_t id) const {
    for (CScriptCommand* c : m_commands)
        if (c->m_nID == id) return c;
    return nullptr;
}

int CScript::IndexOf(const CScriptCommand* command) const {
    auto it = std::find(m_commands.begin(), m_commands.end(), command);
    return it == m_commands.end() ? -1 : static_cast<int>(it - m_commands.begin());
}
