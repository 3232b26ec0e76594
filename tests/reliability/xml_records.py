"""Reads day files with Python's own XML parser, as any reader outside the
library would: the whole file decoded as UTF-16, and the declaration line
left out (it names the encoding "unicode", which the parser does not know,
and the text is decoded already).

    python3 xml_records.py FOLDER

For each day's file NAME.xml, each pending file NAME.pending and a settings
file NAME.xml in FOLDER, prints one line (KEY is NAME for a day's or settings
file, NAME.pending for a pending file):

    KEY ok LOCATION:OPERATION ...    the records, in file order (none for
                                     the settings, whose root is 配置信息)
    KEY error MESSAGE                the file is no XML this parser accepts
"""
import os
import sys
import xml.etree.ElementTree as ElementTree


def read_records(path):
    with open(path, "rb") as file:
        text = file.read().decode("utf-16")
    _declaration, _, body = text.partition("\n")
    root = ElementTree.fromstring(body)
    if root.tag == "配置信息":
        return []
    if root.tag != "日志":
        raise ValueError("top element " + root.tag)
    return [record.findtext("位置") + ":" + record.findtext("操作") for record in root.iter("记录")]


def main(folder):
    for name in sorted(os.listdir(folder)):
        stem, extension = os.path.splitext(name)
        if extension not in (".xml", ".pending"):
            continue
        key = stem if extension == ".xml" else name
        try:
            print(key, "ok", *read_records(os.path.join(folder, name)))
        except Exception as error:  # every way a file can fail is a result here
            print(key, "error", type(error).__name__, str(error).replace("\n", " "))


if __name__ == "__main__":
    main(sys.argv[1])
