#include "fieldmap.h"

#include "core/card.h"

constexpr std::array<FieldMapEntry, 24> kFieldMapEntries = {{
    {columnName(Field::Name), "Edit1"},
    {columnName(Field::Company), "Edit2"},
    {columnName(Field::Department), "Edit3"},
    {columnName(Field::Position), "Edit4"},
    {columnName(Field::Title), "Edit5"},
    {columnName(Field::Birthday), "Edit16"},
    {columnName(Field::Major), "Edit6"},
    {columnName(Field::Education), "ComboBox1"},
    {columnName(Field::School), "Edit7"},
    {columnName(Field::GraduationDate), "Edit18"},
    {columnName(Field::WorkPhone), "Edit8"},
    {columnName(Field::Extension), "Edit9"},
    {columnName(Field::Mobile), "Edit19"},
    {columnName(Field::HomePhone), "Edit10"},
    {columnName(Field::Fax), "Edit20"},
    {columnName(Field::Oicq), "Edit11"},
    {columnName(Field::Msn), "Edit12"},
    {columnName(Field::Email), "Edit13"},
    {columnName(Field::Homepage), "Edit14"},
    {columnName(Field::WorkAddress), "Edit15"},
    {columnName(Field::WorkPostcode), "MaskEdit4"},
    {columnName(Field::HomeAddress), "Edit17"},
    {columnName(Field::HomePostcode), "MaskEdit5"},
    {columnName(Field::Notes), "Memo1"},
}};
// Constant, so that code run before main may read it.
const std::array<FieldMapEntry, 24> kFieldMap = kFieldMapEntries;

const std::array<const char*, 26> kCardColumns = {
    "ID",       "姓名",     "单位",     "部门",     "职务",     "职称", "生日",
    "专业",     "学历",     "毕业院校", "毕业日期", "工作电话", "分机", "传真",
    "手机",     "家庭电话", "OICQ",     "MSN",      "E-mail",   "主页", "工作地址",
    "工作邮编", "家庭地址", "家庭邮编", "备注",     "添加日期",
};

const std::array<const char*, 23> kDetailColumns = {
    "姓名",     "单位",     "部门",     "职务",     "职称",     "专业",     "学历", "毕业院校",
    "毕业日期", "工作电话", "分机",     "手机",     "传真",     "家庭电话", "OICQ", "MSN",
    "E-mail",   "主页",     "工作地址", "工作邮编", "家庭地址", "家庭邮编", "备注",
};

const std::array<const char*, 22> kSearchFields = {
    "姓名",     "生日",     "单位",     "部门",     "职务",     "职称",     "专业", "学历",
    "毕业院校", "毕业日期", "工作电话", "分机",     "手机",     "家庭电话", "OICQ", "MSN",
    "E-mail",   "主页",     "工作地址", "工作邮编", "家庭地址", "家庭邮编",
};
