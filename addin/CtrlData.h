#pragma once
// The record of the last closed item: the EntryID of the item whose inspector closed last.
// Written by the item sink on "Close", read by the folder sinks.
#include <string>

class CCtrlData {
public:
    std::string m_strData;
};
