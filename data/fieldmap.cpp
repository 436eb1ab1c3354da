#include "fieldmap.h"

#include "core/card.h"

constexpr std::array<FieldMapEntry, kFieldCount> kFieldMapEntries = {{
    {columnName(Field::Name)},         {columnName(Field::Company)},
    {columnName(Field::Department)},   {columnName(Field::Position)},
    {columnName(Field::Title)},        {columnName(Field::Birthday)},
    {columnName(Field::Major)},        {columnName(Field::Education)},
    {columnName(Field::School)},       {columnName(Field::GraduationDate)},
    {columnName(Field::WorkPhone)},    {columnName(Field::Extension)},
    {columnName(Field::Mobile)},       {columnName(Field::HomePhone)},
    {columnName(Field::Fax)},          {columnName(Field::Oicq)},
    {columnName(Field::Msn)},          {columnName(Field::Email)},
    {columnName(Field::Homepage)},     {columnName(Field::WorkAddress)},
    {columnName(Field::WorkPostcode)}, {columnName(Field::HomeAddress)},
    {columnName(Field::HomePostcode)}, {columnName(Field::Notes)},
}};
// Constant, so that code run before main may read it.
const std::array<FieldMapEntry, kFieldCount> kFieldMap = kFieldMapEntries;

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
