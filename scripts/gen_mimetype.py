#!/usr/bin/env python3
"""Generates the MIME type table, mail/mimetype_table.cpp.

The set of extensions and the rows the program relies on are fixed here. Every
other row takes its type from Debian's /etc/mime.types (package media-types);
an extension that file lacks takes its type from FALLBACK, and the few whose
Debian type would put the row under another top-level type than the table's
counts allow take theirs from OVERRIDE (both from the mime-db registry).

Usage: scripts/gen_mimetype.py [path/to/mime.types]
Rewrites mail/mimetype_table.cpp whole; the lookup in mail/mimetype.cpp is
written by hand. The build does not run this script; its output is checked in.
"""
import os
import sys
from collections import Counter

# The 985 extensions of the table, lower case, without the dot.
EXTENSIONS = """
123 3dml 3ds 3g2 3gp 7z aab aac aam aas abw ac acc ace acu acutc adp aep afm afp ahead
ai aif aifc aiff air ait ami apk appcache application apr arc asc asf asm aso asx atc
atom atomcat atomsvc atx au avi aw azf azs azw bat bcpio bdf bdm bed bh2 bin blb blorb
bmi bmp book box boz bpk btif bz bz2 c c11amc c11amz c4d c4f c4g c4p c4u cab caf cap
car cat cb7 cba cbr cbt cbz cc cct ccxml cdbcmsg cdf cdkey cdmia cdmic cdmid cdmio
cdmiq cdx cdxml cdy cer cfs cgm chat chm chrt cif cii cil cla class clkk clkp clkt clkw
clkx clp cmc cmdf cml cmp cmx cod com conf cpio cpp cpt crd crl crt cryptonote csh csml
csp css cst csv cu curl cww cxt cxx dae daf dart dataless davmount dbk dcr dcurl dd2
ddd deb def deploy der dfac dgc dic dir dis dist distz djv djvu dll dmg dmp dms dna doc
docm docx dot dotm dotx dp dpg dra dsc dssc dtb dtd dts dtshd dump dvb dvi dwf dwg dxf
dxp dxr ecelp4800 ecelp7470 ecelp9600 ecma edm edx efif ei6 elc emf eml emma emz eol
eot eps epub es3 esa esf et3 etx eva evy exe exi ext ez ez2 ez3 f f4v f77 f90 fbs fcdt
fcs fdf fe_launch fg5 fgd fh fh4 fh5 fh7 fhc fig flac fli flo flv flw flx fly fm fnc
for fpx frame fsc fst ftc fti fvt fxp fxpl fzs g2w g3 g3w gac gam gbr gca gdl geo gex
ggb ggt ghf gif gim gml gmx gnumeric gph gpx gqf gqs gram gramps gre grv grxml gsf gtar
gtm gtw gv gxf gxt h h261 h263 h264 hal hbci hdf hh hlp hpgl hpid hps hqx htke htm html
hvd hvp hvs i2g icc ice icm ico ics ief ifb ifm iges igl igm igs igx iif imp ims in ink
inkml install iota ipfix ipk irm irp iso itp ivp ivu jad jam jar java jisp jlt jnlp
joda jpe jpeg jpg jpgm jpgv jpm js json jsonml kar karbon kfo kia kml kmz kne knp kon
kpr kpt kpxx ksp ktr ktx ktz kwd kwt lasxml latex lbd lbe les lha link66 list list3820
listafp lnk log lostxml lrf lrm ltf lvp lwp lzh m13 m14 m1v m21 m2a m2v m3a m3u m3u8
m4a m4u m4v ma mads mag maker man mar mathml mb mbk mbox mc1 mcd mcurl mdb mdi me mesh
meta4 metalink mets mfm mft mgp mgz mid midi mie mif mime mj2 mjp2 mjs mk3d mka mks mkv
mlp mmd mmf mmr mng mny mobi mods mov movie mp2 mp21 mp2a mp3 mp4 mp4a mp4s mp4v mpc
mpe mpeg mpg mpg4 mpga mpkg mpm mpn mpp mpt mpy mqy mrc mrcx ms mscml mseed mseq msf
msh msi msl msty mts mus musicxml mvb mwf mxf mxl mxml mxs mxu n-gage n3 nb nbp nc ncx
nfo ngdat nitf nlu nml nnd nns nnw npx nsc nsf ntf nzb oa2 oa3 oas obd obj oda odb odc
odf odft odg odi odm odp ods odt oga ogg ogv ogx omdoc onepkg onetmp onetoc onetoc2 opf
opml oprc opus org osf osfpvg otc otf otg oth oti otp ots ott oxps oxt p p10 p12 p7b
p7c p7m p7r p7s p8 pas paw pbd pbm pcap pcf pcl pclxl pct pcurl pcx pdb pdf pfa pfb pfm
pfr pfx pgm pgn pgp pic pkg pki pkipath plb plc plf pls pml png pnm portpkg pot potm
potx ppam ppd ppm pps ppsm ppsx ppt pptm pptx pqa prc pre prf ps psb psd psf pskcxml
ptid pub pvb pwn pya pyv qam qbo qfx qps qt qwd qwt qxb qxd qxl qxt ra ram rar ras
rcprofile rdf rdz rep res rgb rif rip ris rl rlc rld rm rmi rmp rms rmvb rnc roa roff
rp9 rpss rpst rq rs rsd rss rtf rtx s s3m saf sbml sc scd scm scq scs scurl sda sdc sdd
sdkd sdkm sdp sdw see seed sema semd semf ser setpay setreg sfd-hdstx sfs sfv sgi sgl
sgm sgml sh shar shf sid sig sil silo sis sisx sit sitx skd skm skp skt sldm sldx slt
sm smf smi smil smv smzip snd snf so spc spf spl spot spp spq spx sql src srt sru srx
ssdl sse ssf ssml st stc std stf sti stk stl str stw sub sus susp sv4cpio sv4crc svc
svd svg svgz swa swf swi sxc sxd sxg sxi sxm sxw t t3 taglet tao tar tcap tcl teacher
tei teicorpus tex texi texinfo text tfi tfm tga thmx tif tiff tmo torrent tpl tpt tr
tra trm tsd tsv ttc ttf ttl twd twds txd txf txt u32 udeb ufd ufdl ulx umj unityweb
uoml uri uris urls ustar utz uu uva uvd uvf uvg uvh uvi uvm uvp uvs uvt uvu uvv uvva
uvvd uvvf uvvg uvvh uvvi uvvm uvvp uvvs uvvt uvvu uvvv uvvx uvvz uvx uvz vcard vcd vcf
vcg vcs vcx vis viv vob vor vox vrml vsd vsf vss vst vsw vtu vxml w3d wad wav wax wbmp
wbs wbxml wcm wdb wdp weba webm webp wg wgt wks wm wma wmd wmf wml wmlc wmls wmlsc wmv
wmx wmz woff woff2 wpd wpl wps wqd wri wrl wsdl wspolicy wtb wvx x32 x3d x3db x3dbz
x3dv x3dvz x3dz xaml xap xar xbap xbd xbm xdf xdm xdp xdssc xdw xenc xer xfdf xfdl xht
xhtml xhvml xif xla xlam xlc xlf xlm xls xlsb xlsm xlsx xlt xltm xltx xlw xm xml xo xop
xpi xpl xpm xpr xps xpw xpx xsl xslt xsm xspf xul xvm xvml xwd xyz xz yang yin z1 z2 z3
z4 z5 z6 z7 z8 zaz zip zir zirz zmm
""".split()

# Rows whose type other parts of the program rely on.
FIXED = {
    "txt": "text/plain",
    "log": "text/plain",
    "conf": "text/plain",
    "htm": "text/html",
    "html": "text/html",
    "csv": "text/csv",
    "css": "text/css",
    "js": "text/javascript",
    "ics": "text/calendar",
    "xml": "application/xml",
    "json": "application/json",
    "jpg": "image/jpeg",
    "jpeg": "image/jpeg",
    "png": "image/png",
    "gif": "image/gif",
    "svg": "image/svg+xml",
    "bmp": "image/bmp",
    "pdf": "application/pdf",
    "rtf": "application/rtf",
    "zip": "application/zip",
    "7z": "application/x-7z-compressed",
    "tar": "application/x-tar",
    "doc": "application/msword",
    "docx": "application/vnd.openxmlformats-officedocument.wordprocessingml.document",
    "xls": "application/vnd.ms-excel",
    "xlsx": "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
    "ppt": "application/vnd.ms-powerpoint",
    "pptx": "application/vnd.openxmlformats-officedocument.presentationml.presentation",
    "odt": "application/vnd.oasis.opendocument.text",
    "eml": "message/rfc822",
    "mime": "message/rfc822",
    "mp3": "audio/mpeg",
    "wav": "audio/x-wav",
    "mp4": "video/mp4",
    "avi": "video/x-msvideo",
    "exe": "application/x-msdownload",
    "bin": "application/octet-stream",
    "p7s": "application/pkcs7-signature",
    "ice": "x-conference/x-cooltalk",
    "sub": "text/vnd.dvb.subtitle",
    "wmz": "application/x-msmetafile",
}

# Second rows of an extension that occurs twice. They sort after the first row
# of the same extension, so the lookup never returns them.
SECOND_ROWS = [
    ("sub", "image/vnd.dvb.subtitle"),
    ("wmz", "application/x-ms-wmz"),
]

# Extensions that Debian's file does not list.
FALLBACK = {
    "3ds": "image/x-3ds",
    "3g2": "video/3gpp2",
    "3gp": "video/3gpp",
    "aab": "application/x-authorware-bin",
    "aam": "application/x-authorware-map",
    "aas": "application/x-authorware-seg",
    "ace": "application/x-ace-compressed",
    "adp": "audio/adpcm",
    "afm": "application/x-font-type1",
    "air": "application/vnd.adobe.air-application-installer-package+zip",
    "application": "application/x-ms-application",
    "arc": "application/x-freearc",
    "asm": "text/x-asm",
    "asx": "video/x-ms-asf",
    "aw": "application/applixware",
    "azw": "application/vnd.amazon.ebook",
    "bdf": "application/x-font-bdf",
    "blb": "application/x-blorb",
    "blorb": "application/x-blorb",
    "boz": "application/x-bzip2",
    "bpk": "application/octet-stream",
    "bz": "application/x-bzip",
    "bz2": "application/x-bzip2",
    "caf": "audio/x-caf",
    "cb7": "application/x-cbr",
    "cba": "application/x-cbr",
    "cbt": "application/x-cbr",
    "cct": "application/x-director",
    "cfs": "application/x-cfs-compressed",
    "chat": "application/x-chat",
    "clp": "application/x-msclip",
    "cmx": "image/x-cmx",
    "crd": "application/x-mscardfile",
    "cxt": "application/x-director",
    "dbk": "application/docbook+xml",
    "dcurl": "text/vnd.curl.dcurl",
    "def": "text/plain",
    "der": "application/x-x509-ca-cert",
    "dgc": "application/x-dgc-compressed",
    "dic": "text/x-c",
    "dra": "audio/vnd.dra",
    "dtb": "application/x-dtbook+xml",
    "dump": "application/octet-stream",
    "ecma": "application/ecmascript",
    "elc": "application/octet-stream",
    "emz": "application/x-msmetafile",
    "eva": "application/x-eva",
    "evy": "application/x-envoy",
    "f": "text/x-fortran",
    "f4v": "video/x-f4v",
    "f77": "text/x-fortran",
    "f90": "text/x-fortran",
    "fgd": "application/x-director",
    "fh": "image/x-freehand",
    "fh4": "image/x-freehand",
    "fh5": "image/x-freehand",
    "fh7": "image/x-freehand",
    "fhc": "image/x-freehand",
    "fnc": "application/vnd.frogans.fnc",
    "for": "text/x-fortran",
    "g3": "image/g3fax",
    "gca": "application/x-gca-compressed",
    "gmx": "application/vnd.gmx",
    "gpx": "application/gpx+xml",
    "gramps": "application/x-gramps-xml",
    "gxf": "application/gxf",
    "h261": "video/h261",
    "h263": "video/h263",
    "h264": "video/h264",
    "hlp": "application/winhlp",
    "in": "text/plain",
    "install": "application/x-install-instructions",
    "jpgv": "video/jpeg",
    "jsonml": "application/jsonml+json",
    "kar": "audio/midi",
    "kpxx": "application/vnd.ds-keypoint",
    "list": "text/plain",
    "lnk": "application/x-ms-shortcut",
    "lrf": "application/octet-stream",
    "ltf": "application/vnd.frogans.ltf",
    "m13": "application/x-msmediaview",
    "m14": "application/x-msmediaview",
    "m2a": "audio/mpeg",
    "m3a": "audio/mpeg",
    "mar": "application/octet-stream",
    "mathml": "application/mathml+xml",
    "mcurl": "text/vnd.curl.mcurl",
    "metalink": "application/metalink+xml",
    "midi": "audio/midi",
    "mie": "application/x-mie",
    "mk3d": "video/x-matroska",
    "mka": "audio/x-matroska",
    "mks": "video/x-matroska",
    "mny": "application/x-msmoney",
    "mobi": "application/x-mobipocket-ebook",
    "mp2a": "audio/mpeg",
    "mp4a": "audio/mp4",
    "mp4s": "application/mp4",
    "mp4v": "video/mp4",
    "mscml": "application/mediaservercontrol+xml",
    "musicxml": "application/vnd.recordare.musicxml+xml",
    "n-gage": "application/vnd.nokia.n-gage.symbian.install",
    "ncx": "application/x-dtbncx+xml",
    "nfo": "text/x-nfo",
    "npx": "image/vnd.net-fpx",
    "nsc": "application/x-conference",
    "nzb": "application/x-nzb",
    "obd": "application/x-msbinder",
    "odft": "application/vnd.oasis.opendocument.formula-template",
    "omdoc": "application/omdoc+xml",
    "onetoc": "application/onenote",
    "opml": "text/x-opml",
    "osfpvg": "application/vnd.yamaha.openscoreformat.osfpvg+xml",
    "p7b": "application/x-pkcs7-certificates",
    "pclxl": "application/vnd.hp-pclxl",
    "pct": "image/x-pict",
    "pcurl": "application/vnd.curl.pcurl",
    "pfm": "application/x-font-type1",
    "pic": "image/x-pict",
    "psf": "application/x-font-linux-psf",
    "res": "application/x-dtbresource+xml",
    "ris": "application/x-research-info-systems",
    "rmi": "audio/midi",
    "rmp": "audio/x-pn-realaudio-plugin",
    "rmvb": "application/vnd.rn-realmedia-vbr",
    "rsd": "application/rsd+xml",
    "rtx": "text/richtext",
    "s": "text/x-asm",
    "s3m": "audio/s3m",
    "sbml": "application/sbml+xml",
    "scurl": "text/vnd.curl.scurl",
    "setpay": "application/set-payment-initiation",
    "setreg": "application/set-registration-initiation",
    "sil": "audio/silk",
    "sisx": "application/vnd.symbian.install",
    "snf": "application/x-font-snf",
    "so": "application/octet-stream",
    "ssdl": "application/ssdl+xml",
    "svd": "application/vnd.svd",
    "swa": "application/x-director",
    "t3": "application/x-t3vm-image",
    "tfm": "application/x-tex-tfm",
    "tga": "image/x-tga",
    "trm": "application/x-msterminal",
    "u32": "application/x-authorware-bin",
    "ulx": "application/x-glulx",
    "urls": "text/uri-list",
    "uu": "text/x-uuencode",
    "vob": "video/x-ms-vob",
    "vor": "application/vnd.stardivision.writer",
    "vox": "application/x-authorware-bin",
    "w3d": "application/x-director",
    "wdp": "image/vnd.ms-photo",
    "weba": "audio/webm",
    "wri": "application/x-mswrite",
    "x32": "application/x-authorware-bin",
    "x3dbz": "model/x3d+binary",
    "xaml": "application/xaml+xml",
    "xap": "application/x-silverlight-app",
    "xbap": "application/x-ms-xbap",
    "xenc": "application/xenc+xml",
    "xm": "audio/xm",
    "xpl": "application/xproc+xml",
    "z1": "application/x-zmachine",
    "z2": "application/x-zmachine",
    "z3": "application/x-zmachine",
    "z4": "application/x-zmachine",
    "z5": "application/x-zmachine",
    "z6": "application/x-zmachine",
    "z7": "application/x-zmachine",
    "z8": "application/x-zmachine",
}

# Extensions whose Debian type has another top-level type than the table keeps
# for them (or, for cif and cml, a second Debian type is the one kept).
OVERRIDE = {
    "asf": "video/x-ms-asf",
    "atx": "application/vnd.antix.game-component",
    "cif": "chemical/x-cif",
    "cml": "chemical/x-cml",
    "dms": "application/octet-stream",
    "dot": "application/msword",
    "emf": "application/x-msmetafile",
    "gam": "application/x-tads",
    "jpgm": "video/jpm",
    "jpm": "video/jpm",
    "man": "text/troff",
    "me": "text/troff",
    "mlp": "application/vnd.dolby.mlp",
    "ms": "text/troff",
    "mvb": "application/x-msmediaview",
    "obj": "application/x-tgif",
    "pls": "application/pls+xml",
    "pot": "application/vnd.ms-powerpoint",
    "prc": "application/x-mobipocket-ebook",
    "rm": "application/vnd.rn-realmedia",
    "sid": "image/x-mrsid-image",
    "smv": "video/x-smv",
    "spc": "application/x-pkcs7-certificates",
    "srt": "application/x-subrip",
    "stl": "application/vnd.ms-pki.stl",
    "tex": "application/x-tex",
    "wmf": "application/x-msmetafile",
}

# Rows per top-level type; the generator refuses a table that differs.
TOP_LEVEL_COUNTS = {
    "application": 719, "text": 69, "image": 59, "video": 58, "audio": 49,
    "model": 19, "chemical": 6, "font": 5, "message": 2, "x-conference": 1,
}
ROW_COUNT = 987
EXT_MAX = 11

HEAD = """\
// The MIME type table: the shared word pieces of the type texts, the rows
// and the extension index that the lookup in mail/mimetype.cpp searches.
// Written by scripts/gen_mimetype.py; edit the script, not this file.
#include "mail/mimetype.h"
"""


def read_debian(path):
    """Extension -> first type that lists it, in file order."""
    types = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            words = line.split("#", 1)[0].split()
            for ext in words[1:]:
                types.setdefault(ext.lower(), words[0])
    return types


def split_type(text):
    """top/sub[.p3[.p4]] -> pieces; p4 keeps any further dots."""
    top, sub = text.split("/", 1)
    return [top] + sub.split(".", 2)


def main():
    mime_types = sys.argv[1] if len(sys.argv) > 1 else "/etc/mime.types"
    debian = read_debian(mime_types)
    rows = []
    for ext in EXTENSIONS:
        if ext in FIXED:
            t = FIXED[ext]
        elif ext in OVERRIDE:
            t = OVERRIDE[ext]
        elif ext in debian:
            t = debian[ext]
        else:
            t = FALLBACK[ext]
        # Media types compare without regard to case; the table keeps the
        # usual lower-case form (Debian's file has a few registered in
        # mixed case).
        rows.append((ext, t.lower()))
    rows += SECOND_ROWS

    # Descending byte order of the type text; equal types by extension.
    rows.sort(key=lambda r: (r[1].encode(), r[0].encode()), reverse=True)
    # The lookup returns the first row of an extension in table order.
    for ext, t in SECOND_ROWS:
        first = next(r for r in rows if r[0] == ext)
        assert first[1] == FIXED[ext], ext

    assert len(EXTENSIONS) == len(set(EXTENSIONS)) == ROW_COUNT - len(SECOND_ROWS)
    assert len(rows) == ROW_COUNT
    assert max(len(e) for e, _ in rows) == EXT_MAX
    counts = Counter(t.split("/", 1)[0] for _, t in rows)
    if dict(counts) != TOP_LEVEL_COUNTS:
        sys.exit("top-level counts differ: %s" % dict(counts))

    pieces = sorted({p for _, t in rows for p in split_type(t)}, key=str.encode)
    index_of = {p: i for i, p in enumerate(pieces)}

    out = []
    out.append("const size_t mimetype_piece_count = %d;" % len(pieces))
    out.append("const char *const mimetype_pieces[%d] = {" % len(pieces))
    out += ['    "%s",' % p for p in pieces]
    out.append("};")
    out.append("")
    out.append("const MimeTypeRow mimetype_rows[MIMETYPE_ROW_COUNT + 1] = {")
    for ext, t in rows:
        ids = [index_of[p] for p in split_type(t)] + [-1, -1]
        out.append('    {"%s", %d, %d, %d, %d}, // %s' % ((ext,) + tuple(ids[:4]) + (t,)))
    out.append("    {nullptr, -1, -1, -1, -1},")
    out.append("};")
    out.append("")
    # Extension index: row of the first occurrence of each extension,
    # in ascending byte order of the extension.
    first_row = {}
    for i, (ext, _) in enumerate(rows):
        first_row.setdefault(ext, i)
    order = sorted(first_row, key=str.encode)
    out.append("const int16_t mimetype_ext_index[MIMETYPE_EXT_COUNT] = {")
    for k in range(0, len(order), 12):
        out.append("    " + " ".join("%d," % first_row[e] for e in order[k:k + 12]))
    out.append("};")

    target = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "mail", "mimetype_table.cpp")
    with open(target, "w", encoding="utf-8") as f:
        f.write(HEAD + "\n" + "\n".join(out) + "\n")


if __name__ == "__main__":
    main()
