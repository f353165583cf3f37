#!/usr/bin/python3
"""console.py CHARSET: a program's console as the learner's UTF-8 terminal shows it, byte by
byte as it comes (iconv would wait for the end): the chat programs write é as code page
850's 0x82, the time programs as ISO-8859-1's 0xE9, one byte a letter either way."""
import os
import sys

while chunk := os.read(0, 4096):
    os.write(1, chunk.decode(sys.argv[1], "replace").encode())
