#!/usr/bin/env bash
# Makes the fixtures whose bytes are not plain UTF-8 text: quoted-printable values and files in
# GB2312, GBK, Big5 or UTF-7, converted with iconv. Run it here after changing a fixture.
set -euo pipefail
cd "$(dirname "$0")"

# Quoted-printable bytes of a text in a charset, every byte as =XX, soft line breaks ("=" at
# the end) after 24 bytes as old phones write them.
qp() {
    printf '%s' "$1" | iconv -f UTF-8 -t "$2" | od -An -v -tx1 | tr -d ' \n' |
        sed 's/../=&/g' | tr a-f A-F | fold -w 72 | sed '$!s/$/=/'
}
# Raw bytes of a text in a charset.
raw() {
    printf '%s' "$1" | iconv -f UTF-8 -t "$2"
}
crlf() {
    sed 's/$/\r/'
}

# An old phone: vCard 2.1, quoted-printable GB2312 (one name is GBK though the card says
# GB2312, as such phones do), a card with only N, one without any name.
{
    echo "BEGIN:VCARD"
    echo "VERSION:2.1"
    echo "N;CHARSET=GB2312;ENCODING=QUOTED-PRINTABLE:$(qp '张' GB2312);$(qp '三' GB2312)"
    echo "FN;CHARSET=GB2312;ENCODING=QUOTED-PRINTABLE:$(qp '张三' GB2312)"
    echo "TEL;CELL:13800138000"
    echo "TEL;WORK;VOICE:010-62345678"
    echo "TEL;HOME:010-87654321"
    echo "TEL;CELL:13900139000"
    echo "ORG;CHARSET=GB2312;ENCODING=QUOTED-PRINTABLE:$(qp '北京某某科技有限公司' GB2312);$(qp '市场部' GB2312)"
    echo "TITLE;CHARSET=GB2312;ENCODING=QUOTED-PRINTABLE:$(qp '经理' GB2312)"
    echo "ADR;WORK;CHARSET=GB2312;ENCODING=QUOTED-PRINTABLE:;;$(qp '中关村大街1号' GB2312);$(qp '海淀区' GB2312);$(qp '北京市' GB2312);100080;$(qp '中国' GB2312)"
    echo "NOTE;CHARSET=GB2312;ENCODING=QUOTED-PRINTABLE:$(qp '2008年在展会上认识，负责华北地区的渠道合作。' GB2312)"
    echo "END:VCARD"
    echo "BEGIN:VCARD"
    echo "VERSION:2.1"
    echo "N;CHARSET=GB2312;ENCODING=QUOTED-PRINTABLE:$(qp '欧阳' GB2312);$(qp '修' GB2312)"
    echo "TEL;CELL:13700137000"
    echo "END:VCARD"
    echo "BEGIN:VCARD"
    echo "VERSION:2.1"
    echo "TEL;CELL:10086"
    echo "END:VCARD"
    echo "BEGIN:VCARD"
    echo "VERSION:2.1"
    echo "N;CHARSET=GB2312;ENCODING=QUOTED-PRINTABLE:$(qp '朱' GBK);$(qp '镕基' GBK)"
    echo "FN;CHARSET=GB2312;ENCODING=QUOTED-PRINTABLE:$(qp '朱镕基' GBK)"
    echo "END:VCARD"
} | crlf >oldphone-gb2312.vcf

# Android: vCard 2.1, quoted-printable UTF-8 with soft line breaks, =0D=0A in notes.
{
    echo "BEGIN:VCARD"
    echo "VERSION:2.1"
    echo "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:$(qp '王' UTF-8);$(qp '五' UTF-8);;;"
    echo "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:$(qp '王五' UTF-8)"
    echo "X-PHONETIC-LAST-NAME:wang"
    echo "TEL;CELL:186-0000-1111"
    echo "TEL;CELL:186-0000-2222"
    echo "TEL;WORK:0755-8888-0000"
    echo "TEL;X-Assistant:0755-8888-0001"
    echo "EMAIL;WORK:wangwu@example.com"
    echo "EMAIL;HOME:wangwu@example.net"
    echo "ORG;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:$(qp '深圳某某电子有限公司' UTF-8)"
    echo "ADR;HOME;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:;;$(qp '深南大道100号' UTF-8);$(qp '深圳' UTF-8);$(qp '广东' UTF-8);518000;"
    echo "NOTE;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:$(qp $'第一行\r\n第二行，带逗号; 和分号' UTF-8)"
    echo "X-QQ:10001"
    echo "X-ANDROID-CUSTOM:vnd.android.cursor.item/nickname;Wu;1;;;;;;;;;;;;;"
    echo "END:VCARD"
} | crlf >android21.vcf

# Outlook: vCard 2.1 with raw GB2312 text and CHARSET=gb2312, a printed LABEL beside the ADR.
{
    echo "BEGIN:VCARD"
    echo "VERSION:2.1"
    echo "N;LANGUAGE=zh-cn;CHARSET=gb2312:$(raw '赵;六' GB2312)"
    echo "FN;CHARSET=gb2312:$(raw '赵六' GB2312)"
    echo "ORG;CHARSET=gb2312:$(raw '广州某某有限公司;技术部' GB2312)"
    echo "TITLE;CHARSET=gb2312:$(raw '工程师' GB2312)"
    echo "TEL;WORK;VOICE:020-3333-4444"
    echo "TEL;HOME;VOICE:020-3333-5555"
    echo "TEL;CELL;VOICE:135-0000-3333"
    echo "TEL;WORK;FAX:020-3333-6666"
    echo "ADR;WORK;PREF;CHARSET=gb2312:$(raw ';;天河路2号;广州;广东省;510000;中国' GB2312)"
    echo "LABEL;WORK;PREF;CHARSET=gb2312;ENCODING=QUOTED-PRINTABLE:$(qp $'天河路2号\r\n广州, 广东省 510000\r\n中国' GB2312)"
    echo "X-MS-OL-DEFAULT-POSTAL-ADDRESS:2"
    echo "URL;WORK:http://www.example.cn"
    echo "EMAIL;PREF;INTERNET:zhaoliu@example.cn"
    echo "X-MS-IMADDRESS:zhaoliu@hotmail.com"
    echo "NOTE;CHARSET=gb2312;ENCODING=QUOTED-PRINTABLE:$(qp $'去年在广交会认识。\r\n喜欢喝茶。' GB2312)"
    echo "X-MS-OL-DESIGN;CHARSET=utf-8:<card xmlns=\"http://schemas.microsoft.com/office/outlook/12/electronicbusinesscards\" ver=\"1.0\" layout=\"left\" bgcolor=\"ffffff\"></card>"
    echo "REV:20240101T080000Z"
    echo "END:VCARD"
} | crlf >outlook21.vcf

# Every charset and encoding a 2.1 card may carry, and parameters written every way.
{
    echo "BEGIN:VCARD"
    echo "VERSION:2.1"
    echo "FN;CHARSET=BIG5;ENCODING=QUOTED-PRINTABLE:$(qp '陳大文' BIG5)"
    echo "ORG;CHARSET=Big5;ENCODING=QUOTED-PRINTABLE:$(qp '香港貿易公司' BIG5)"
    echo "TITLE;CHARSET=UTF-7:$(raw '總經理' UTF-7)"
    echo "ROLE;CHARSET=GBK;ENCODING=QUOTED-PRINTABLE:$(qp '高级工程师' GBK)"
    echo "NOTE;CHARSET=GB18030;ENCODING=QUOTED-PRINTABLE:$(qp '生僻字𠀀与表情😀' GB18030)"
    echo "X-QUEMBE-MAJOR;CHARSET=UTF-8;ENCODING=BASE64:$(printf '%s' '计算机科学' | base64 -w0)"
    echo "X-QUEMBE-SCHOOL;ENCODING=b;CHARSET=UTF-8:$(printf '%s' '清华大学' | base64 -w0)"
    echo "TEL;TYPE=\"work,voice\":852-2222-3333"
    echo "TEL;TYPE=cell;TYPE=voice:852-9999-8888"
    echo "TEL;TYPE=HOME,FAX:852-2222-4444"
    echo "END:VCARD"
} | crlf >charsets21.vcf

# Outlook's CSV on a Chinese Windows: its Chinese headers, GBK text.
{
    echo '称谓,名,中间名,姓,后缀,公司,部门,职务,商务地址 街道,商务地址 街道 2,商务地址 市/县,商务地址 省/市/自治区,商务邮政编码,商务地址 国家/地区,住宅地址 街道,住宅地址 市/县,住宅邮政编码,商务传真,商务电话,商务电话 2,住宅电话,移动电话,其他电话,寻呼机,生日,类别,电子邮件地址,电子邮件类型,电子邮件显示名称,电子邮件 2 地址,缩写,优先级,私有,敏感度,性别,附注,网页'
    echo ',三,,张,,上海某某软件有限公司,研发部,架构师,漕溪北路88号,8楼,上海,上海市,200030,中国,,,,021-6464-0001,021-6464-0000,021-6464-0002,,139-1234-5678,,,0/0/00,同事,zhangsan@example.com,SMTP,张三 (zhangsan@example.com),zs@example.org,张.三.,普通,False,普通,未指定,"第一行
第二行",http://example.com/zs'
    echo 'Mr.,Lei,,Li,,"Acme, Inc.",,,,,,,,,1 Main St,Springfield,12345,,,,555-0100,,555-0199,,1980/5/17,,,,,,L.L.,普通,False,普通,男,,'
} | crlf | iconv -f UTF-8 -t GBK >outlook-zh.csv

# A sheet saved from Excel on a Chinese Windows: GBK, headers made by hand.
{
    echo '姓名,公司,职位,手机号码,邮箱,地址,邮编,QQ,微信,备注'
    echo '孙八,杭州某某网络有限公司,产品经理,158-0000-8888,sunba@example.com,杭州市西湖区文三路1号,310000,88888888,sunba_wx,"说""你好"", 很热情"'
    echo '周九,,,137-0000-9999,,,,,,'
    echo ',,,,,,,,,'
    echo ',某公司,,,,,,,,没有名字的一行'
} | crlf | iconv -f UTF-8 -t GBK >excel-gbk.csv
