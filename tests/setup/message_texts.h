#pragma once

#include <windows.h>

// The string table as each user-interface language must show it, kept apart
// from the resource script so that the tests compare against a second copy.
namespace message_texts {

struct expected_text {
    UINT id;
    const wchar_t* english;              // 1033
    const wchar_t* traditional_chinese;  // 1028
    const wchar_t* simplified_chinese;   // 2052
};

// Every text of the table as the three languages must show it, character
// for character.
inline const expected_text expected_texts[] = {
    {101, L"Please update Windows to install Microsoft KB2919355. This is a prerequisite for Microsoft Visual C++ 2015 Run-Time software.",
     L"您必須更新Windows以安裝Microsoft KB 2919355，這是Microsoft Visual C ++ 2015執行時的先決條件。",
     L"您必须更新Windows以安装Microsoft KB 2919355，这是Microsoft Visual C ++ 2015运行时的先决条件。"},
    {102, L"Warning",
     L"警告",
     L"警告"},
    {103, L"Dadar Ozevedeve",
     L"Linux 轉換器",
     L"Linux 转换器"},
    {104, L"Installing Dadar Ozevedeve.",
     L"正在安裝Linux 轉換器",
     L"正在安装Linux 转换器"},
    {105, L"Do you want to overwrite existing Dadar Ozevedeve?",
     L"是否要覆蓋現有的Linux 轉換器？",
     L"是否要覆盖现有的 Linux 转换器？"},
    {106, L"Unable to remove existing Dadar Ozevedeve.",
     L"無法刪除現有的 Linux 轉換器。",
     L"无法删除现有的 Linux 转换器"},
    {107, L"Do you want to install Dadar Ozevedeve?",
     L"執行安裝 Linux 轉換器？",
     L"执行安装 Linux 转换器？"},
    {108, L"Dadar Ozevedeve installed.",
     L"成功安裝 Linux 轉換器",
     L"成功安装 Linux 转换器"},
    {109, L"Unable to install Dadar Ozevedeve.",
     L"無法安裝 Linux 轉換器",
     L"无法安装 Linux 转换器"},
    {110, L"Please install Velmora Service before continuing with Dadar Ozevedeve installation.",
     L"如要進行Linux 轉換器安裝，請先安裝Velmora服務。",
     L"如要进行Linux转换器安装，请先安装Velmora服務。"},
    {111, L"Please update Windows to install Microsoft KB4490628. This is a prerequisite for Windows Changed Blocks Journal Recording Driver.",
     L"您必須更新Windows以安裝Microsoft KB 4490628. 這是Windows Changed Blocks Journal Recording Driver安裝時的先決條件。",
     L"您必须更新Windows以安装Microsoft KB 4490628. 这是Windows Changed Blocks Journal Recording Driver安装时的先决条件。"},
    {112, L"Please update Windows to install Microsoft KB4493730. This is a prerequisite for Windows Changed Blocks Journal Recording Driver.",
     L"您必須更新Windows以安裝Microsoft KB 4493730. 這是Windows Changed Blocks Journal Recording Driver安裝時的先決條件。",
     L"您必须更新Windows以安装Microsoft KB 4493730. 这是Windows Changed Blocks Journal Recording Driver安装时的先决条件。"},
    {113, L"Please update Windows to install Microsoft KB4474419. This is a prerequisite for Windows Changed Blocks Journal Recording Driver.",
     L"您必須更新Windows以安裝Microsoft KB 4474419. 這是Windows Changed Blocks Journal Recording Driver安裝時的先決條件。",
     L"您必须更新Windows以安装Microsoft KB 4474419. 这是Windows Changed Blocks Journal Recording Driver安装时的先决条件。"},
    {114, L"An existing volume filter driver may conflict with the agent. Please uninstall the driver or contact support.",
     L"主機上存在的 Volume Filter 驅動會與代理程式衝突。請卸載該驅動或聯繫技術支援窗口。",
     L"主机上存在的卷过滤驱动 (Volume Filter) 会与代理程序冲突。请卸载该驱动或联系技术支持窗口。"},
};

// The text of one row in the language `language` (1033, 1028 or 2052).
inline const wchar_t* text_in(const expected_text& row, LANGID language)
{
    switch (language) {
    case 1028:
        return row.traditional_chinese;
    case 2052:
        return row.simplified_chinese;
    default:
        return row.english;
    }
}

} // namespace message_texts
