#!/usr/bin/env python3
"""Writes the pages whose bytes matter (legacy encodings, malformed input), which are
easier to produce from code than to edit by hand. Run it, then make-golden.py."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def write(name, data):
    with open(os.path.join(HERE, name), 'wb') as f:
        f.write(data)


def euckr(text):
    return text.encode('cp949')  # windows-949: KS X 1001 plus the extra Hangul syllables


# Every EUC-KR byte pair, one lead byte per line, plus malformed sequences.
lines = []
for lead in range(0x81, 0xFF):
    lines.append(b''.join(bytes([lead, trail]) for trail in range(0x41, 0xFF)))
malformed = [b'\x80', b'\xff', b'\x81\x20', b'\xa1', b'\xc9\x41', b'\x81\x7f', b'\xfe\xfe', b'\xb0']
write('encoding-euckr-all.html',
      b'<!DOCTYPE html><meta charset="euc-kr"><title>all pairs</title>'
      b'<pre id="pairs">x\n' + b'\n'.join(lines) + b'\n</pre>'
      b'<pre id="malformed">x\n' + b'|'.join(malformed) + b'</pre>')

# Bytes 0x80..0xFF of single-byte encodings.
for label in ('windows-1252', 'windows-1250', 'windows-1251', 'windows-1253', 'windows-1255',
              'windows-874', 'iso-8859-2', 'iso-8859-7', 'koi8-r', 'ibm866', 'macintosh'):
    write('encoding-%s.html' % label,
          b'<!DOCTYPE html><meta charset="' + label.encode() + b'"><title>bytes</title>'
          b'<pre id="bytes">x\n' + bytes(range(0x80, 0x100)) + b'</pre>')

# Malformed UTF-8: each sequence between bars.
bad = [b'\xc3\x28', b'\xe2\x82\x41', b'\xf0\x9f\x98', b'\xed\xa0\x80', b'\xf8\x88\x80\x80\x80',
       b'\xc0\xaf', b'\x80', b'\xe0\x80\xaf', b'\xf4\x90\x80\x80', b'\xef\xbf\xbf', b'\xf0\x9f\x98\x80',
       b'\xc2', b'\xe1\x80', b'\xc2\xa0']
write('utf8-malformed.html',
      b'<!DOCTYPE html><title>bad utf-8</title><pre id="bad">x\n|' + b'|'.join(bad) + b'|</pre>'
      b'<div id="tail">\xe2\x82</div>')

# UTF-16LE with a BOM, with a surrogate pair and a lone surrogate.
utf16 = ('<!DOCTYPE html><title>utf-16</title><div id="text">UTF-16 텍스트 \U0001F600 ok</div>'
         '<a id="u16-link" href="?q=한">link</a>').encode('utf-16-le')
lone = '<div id="lone">a'.encode('utf-16-le') + b'\x00\xd8' + 'b</div>'.encode('utf-16-le')
write('utf16le-bom.html', b'\xff\xfe' + utf16 + lone)

# A <meta> the 1024-byte prescan cannot see: the parser must still switch encodings.
write('meta-late.html',
      b'<!DOCTYPE html><html><head><!-- ' + b'padding ' * 160 + b'-->'
      b'<meta charset="euc-kr"><title>late</title></head><body><div id="text">' +
      euckr('늦은 선언 똠') + b'</div></body></html>')

# "cp949" is not a label of the Encoding Standard.
write('label-cp949.html',
      b'<!DOCTYPE html><meta charset="cp949"><title>cp949</title><div id="text">' +
      euckr('한글') + b'</div>')

# HTTP says latin1; the page's own meta (ignored) says euc-kr.
write('http-latin1.html',
      b'<!DOCTYPE html><meta charset="euc-kr"><title>latin1</title><div id="text">caf\xe9 \x80 \x9d</div>')

write('euckr-meta.html', euckr('''<!DOCTYPE html>
<html>
<head>
<meta http-equiv="Content-Type" content="text/html; charset=euc-kr">
<title id="title">한글 페이지&nbsp;제목</title>
</head>
<body>
<div id="text">가나다 똠방각하 뷁 &#xB625; 漢字</div>
<div id="links">
<a id="k-query" href="/search?q=한글&amp;r=똠">한글 질의</a>
<a id="k-path" href="/경로/문서.html">한글 경로</a>
<a id="k-frag" href="page.html#조각">한글 조각</a>
<a id="k-unmapped" href="/q?x=&#x1F600;&#x00E9;">unmappable</a>
<a id="k-ascii" href="plain.html?a=b">ascii</a>
</div>
</body>
</html>
'''))

write('euckr-http.html', euckr('''<!DOCTYPE html>
<html>
<head>
<title>HTTP 문자셋</title>
</head>
<body>
<div id="text">서버가 알려준 문자셋: 똠 뷁 가</div>
<a id="h-query" href="list.php?cat=방명록">방명록</a>
</body>
</html>
'''))

with open(os.path.join(HERE, 'dashboard.src.html'), encoding='utf-8') as f:
    write('dashboard.html', euckr(f.read()))

# --- sniffing corner cases ---
korean = euckr('한글 똠')
write('bom-utf8.html', b'\xef\xbb\xbf<!DOCTYPE html><meta charset="euc-kr"><title>bom</title>'
      b'<div id="text">' + '한글 똠'.encode('utf-8') + b'</div>')
write('utf16be-bom.html', b'\xfe\xff' + ('<!DOCTYPE html><title>be</title><div id="text">'
                                         'big endian 한글</div>').encode('utf-16-be'))
write('meta-utf16.html', b'<!DOCTYPE html><meta charset="utf-16"><title>utf-16 label</title>'
      b'<div id="text">' + '한글'.encode('utf-8') + b'</div>')
write('meta-x-user-defined.html', b'<!DOCTYPE html><meta charset="x-user-defined"><title>xud</title>'
      b'<pre id="bytes">x\n' + bytes(range(0x80, 0x100)) + b'</pre>')
write('http-bogus.html', b'<!DOCTYPE html><meta charset="euc-kr"><title>bogus http label</title>'
      b'<div id="text">' + korean + b'</div>')
write('http-utf16.html', ('<!DOCTYPE html><title>utf-16 by http</title><div id="text">'
                          'no BOM 한글</div>').encode('utf-16-le'))
write('meta-replacement.html', b'<!DOCTYPE html><meta charset="iso-2022-kr"><title>replacement</title>'
      b'<div id="text">text</div>')
write('meta-in-body.html', b'<!DOCTYPE html><html><head><title>late body meta</title></head><body>'
      b'<!-- ' + b'padding ' * 160 + b'--><meta charset="euc-kr"><div id="text">' + korean +
      b'</div></body></html>')
write('shift-jis.html', b'<!DOCTYPE html><meta charset="shift_jis"><title>sjis</title>'
      b'<div id="text">' + '日本語のテキスト ｱｲｳ'.encode('cp932') + b'</div>')
write('gbk.html', b'<!DOCTYPE html><meta charset="gb2312"><title>gbk</title>'
      b'<div id="text">' + '中文文本'.encode('gbk') + b'</div>')
write('big5.html', b'<!DOCTYPE html><meta charset="big5"><title>big5</title>'
      b'<div id="text">' + '中文文本'.encode('big5') + b'</div>')

# Deeper than the 512 levels a browser's parser builds: it hangs further elements on the
# element at that depth instead.
deep = ['<!DOCTYPE html><title>deep</title><body><div id="top">']
for i in range(600):
    deep.append('<div id="d%d">' % i if i in (10, 505, 509, 510, 511, 550, 599) else '<div>')
deep.append('<span id="leaf">leaf <a href="/leaf">link</a></span><p id="p-deep">para</p>tail text')
deep.append('</div>' * 600)
deep.append('<p id="after">after</p></div>')
deep.append('<table id="deep-tables">' + '<tr><td><table>' * 200 + '<tr><td id="deep-cell">cell</td></tr>' +
            '</table></td></tr>' * 200 + '</table></body>')
write('deep.html', ''.join(deep).encode())
