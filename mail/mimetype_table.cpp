// The MIME type table: the shared word pieces of the type texts, the rows
// and the extension index that the lookup in mail/mimetype.cpp searches.
// Written by scripts/gen_mimetype.py; edit the script, not this file.
#include "mail/mimetype.h"

const size_t mimetype_piece_count = 879;
const char *const mimetype_pieces[879] = {
    "3dml",
    "3gpp",
    "3gpp2",
    "3m",
    "aac",
    "acc",
    "accpac",
    "acucobol",
    "acucorp",
    "addin.macroenabled.12",
    "adobe",
    "adpcm",
    "afpc",
    "ahead",
    "air-application-installer-package+zip",
    "airzip",
    "ait",
    "amazon",
    "americandynamics",
    "ami",
    "amiga",
    "andrew-inset",
    "android",
    "anser-web-certificate-issue-initiation",
    "anser-web-funds-transfer-initiation",
    "antix",
    "apple",
    "application",
    "applixware",
    "aristanetworks",
    "astraea-software",
    "atom+xml",
    "atomcat+xml",
    "atomsvc+xml",
    "audio",
    "audiograph",
    "basic",
    "bed",
    "binary-package",
    "blueice",
    "bmi",
    "bmp",
    "box",
    "btif",
    "businessobjects",
    "c4group",
    "cache-manifest",
    "calc",
    "calendar",
    "car",
    "cartomobile-config",
    "cartomobile-config-pkg",
    "ccxml+xml",
    "cdkey",
    "cdmi-capability",
    "cdmi-container",
    "cdmi-domain",
    "cdmi-object",
    "cdmi-queue",
    "certificate",
    "cgm",
    "chart",
    "chemdraw+xml",
    "chemical",
    "chess-pgn",
    "chipnuts",
    "cinderella",
    "claymore",
    "clicker",
    "clicker.keyboard",
    "clicker.palette",
    "clicker.template",
    "clicker.wordbank",
    "clip",
    "cloanto",
    "clonk",
    "cluetrust",
    "cmsg",
    "cod",
    "collada+xml",
    "collection",
    "comicbook+zip",
    "comicbook-rar",
    "commonspace",
    "contact",
    "cosmocaller",
    "crick",
    "criticaltools",
    "cryptonote",
    "css",
    "csv",
    "ctc-posml",
    "cu-seeme",
    "cups-ppd",
    "curl",
    "cww",
    "daf",
    "dart",
    "data",
    "data-vision",
    "davmount+xml",
    "dcurl",
    "dd2+xml",
    "ddd",
    "debian",
    "dece",
    "deck+xml",
    "denovo",
    "digital-winds",
    "dis",
    "djvu",
    "dm+wbxml",
    "dm+xml",
    "dna",
    "docbook+xml",
    "document.macroenabled.12",
    "docuworks",
    "docuworks.binder",
    "dolby",
    "dp",
    "dpgraph",
    "dra",
    "draw",
    "dreamfactory",
    "ds-keypoint",
    "dssc+der",
    "dssc+xml",
    "dts",
    "dvb",
    "dwf",
    "dwg",
    "dxf",
    "dxp",
    "dynageo",
    "ebook",
    "ecelp4800",
    "ecelp7470",
    "ecelp9600",
    "ecmascript",
    "ecowin",
    "edm",
    "edmics-mmr",
    "edmics-rlc",
    "edx",
    "emma+xml",
    "enliven",
    "epson",
    "epub+zip",
    "esf",
    "eszigno3+xml",
    "exi",
    "exstream-package",
    "ext",
    "extension",
    "ezpix-album",
    "ezpix-package",
    "fastbidsheet",
    "fcs",
    "fcselayout-link",
    "fdf",
    "fdsn",
    "file",
    "filesecure.azf",
    "filesecure.azs",
    "flac",
    "flash.movie",
    "flexstor",
    "fli",
    "flo",
    "flographit",
    "fluxtime",
    "fly",
    "fmi",
    "fnc",
    "font",
    "font-tdpfr",
    "format",
    "formnet",
    "formscentral.fcdt",
    "fpx",
    "framemaker",
    "frogans",
    "fsc",
    "fst",
    "fujitsu",
    "fujixerox",
    "futuresplash",
    "fuzzysheet",
    "fvt",
    "fxp",
    "g3fax",
    "game-component",
    "gdl",
    "genomatix",
    "geogebra",
    "geometry-explorer",
    "geonext",
    "geoplan",
    "geospace",
    "gif",
    "gml+xml",
    "gmx",
    "google-earth",
    "gpx+xml",
    "grafeq",
    "graphic",
    "graphviz",
    "groove-account",
    "groove-help",
    "groove-identity-message",
    "groove-injector",
    "groove-tool-message",
    "groove-tool-template",
    "groove-vcard",
    "gtw",
    "gxf",
    "h261",
    "h263",
    "h264",
    "hal+xml",
    "handheld-entertainment+xml",
    "hbci",
    "hd",
    "hhe",
    "hp-hpgl",
    "hp-hpid",
    "hp-hps",
    "hp-jlyt",
    "hp-pcl",
    "hp-pclxl",
    "html",
    "hv-dic",
    "hv-script",
    "hv-voice",
    "hydrostatix",
    "hyperstudio",
    "ibm",
    "iccprofile",
    "icon",
    "ief",
    "iges",
    "igloader",
    "igm",
    "igx",
    "image",
    "immervision-ivp",
    "immervision-ivu",
    "impress",
    "in3d",
    "informed.formdata",
    "informed.formtemplate",
    "informed.interchange",
    "informed.package",
    "inkml+xml",
    "insors",
    "install",
    "installer+xml",
    "intent-module-archive",
    "intercon",
    "intergeo",
    "intu",
    "iota",
    "ipfix",
    "ipld",
    "ipunplugged",
    "irepository",
    "is-xpr",
    "isac",
    "j2me.app-descriptor",
    "jam",
    "java-archive",
    "java-serialized-object",
    "java-vm",
    "javame.midlet-rms",
    "javascript",
    "jcp",
    "jisp",
    "joda-archive",
    "joost",
    "jpeg",
    "jpm",
    "json",
    "jsonml+json",
    "kahootz",
    "karaoke-mmd",
    "karbon",
    "kchart",
    "kde",
    "kenameaapp",
    "kformula",
    "kidspiration",
    "kinar",
    "kivio",
    "kml+xml",
    "kmz",
    "koan",
    "kodak-descriptor",
    "kontour",
    "kpresenter",
    "kspread",
    "ktx",
    "kword",
    "las",
    "las+xml",
    "lesson-player",
    "life-balance.desktop",
    "life-balance.exchange+xml",
    "lines",
    "link66+xml",
    "llamagraphics",
    "lost+xml",
    "lotus-1-2-3",
    "lotus-approach",
    "lotus-freelance",
    "lotus-notes",
    "lotus-organizer",
    "lotus-screencam",
    "lotus-wordpro",
    "ltf",
    "lucent",
    "mac-binhex40",
    "mac-compactpro",
    "macports",
    "mads+xml",
    "magazine",
    "mapguide.package",
    "marc",
    "marcxml+xml",
    "math",
    "mathematica",
    "mathml+xml",
    "mbk",
    "mbox",
    "mcd",
    "mcurl",
    "medcalcdata",
    "media.pya",
    "media.pyv",
    "mediaservercontrol+xml",
    "mediastation",
    "mesh",
    "message",
    "metalink+xml",
    "metalink4+xml",
    "mets+xml",
    "mfer",
    "mfmp",
    "micrografx",
    "microsoft",
    "midi",
    "mif",
    "minipay",
    "mj2",
    "mlp",
    "mobile",
    "mobius",
    "modca",
    "model",
    "mods+xml",
    "mophun",
    "mozilla",
    "mp21",
    "mp4",
    "mpeg",
    "mpegurl",
    "mqy",
    "ms-artgalry",
    "ms-cab-compressed",
    "ms-excel",
    "ms-fontobject",
    "ms-htmlhelp",
    "ms-ims",
    "ms-lrm",
    "ms-modi",
    "ms-officetheme",
    "ms-photo",
    "ms-pki",
    "ms-playready",
    "ms-powerpoint",
    "ms-project",
    "ms-word",
    "ms-works",
    "ms-wpl",
    "ms-xpsdocument",
    "msaccess",
    "mseed",
    "mseq",
    "msf",
    "msl",
    "msword",
    "mts",
    "multipass",
    "musician",
    "musicxml",
    "musicxml+xml",
    "muvee",
    "mxf",
    "mxs",
    "mynfc",
    "n-gage.data",
    "n-gage.symbian.install",
    "n3",
    "net-fpx",
    "neurolanguage",
    "nitf",
    "nlu",
    "noblenet-directory",
    "noblenet-sealer",
    "noblenet-web",
    "nokia",
    "novadigm",
    "nuera",
    "oasis",
    "oasys",
    "oasys2",
    "oasys3",
    "oasysgp",
    "oasysprs",
    "octet-stream",
    "oda",
    "oebps-package+xml",
    "ogg",
    "olpc-sugar",
    "oma",
    "omdoc+xml",
    "onenote",
    "opendocument.base",
    "opendocument.chart",
    "opendocument.chart-template",
    "opendocument.formula",
    "opendocument.formula-template",
    "opendocument.graphics",
    "opendocument.graphics-template",
    "opendocument.image",
    "opendocument.image-template",
    "opendocument.presentation",
    "opendocument.presentation-template",
    "opendocument.spreadsheet",
    "opendocument.spreadsheet-template",
    "opendocument.text",
    "opendocument.text-master",
    "opendocument.text-template",
    "opendocument.text-web",
    "openofficeorg",
    "openscoreformat",
    "openscoreformat.osfpvg+xml",
    "openxmlformats-officedocument",
    "osasli",
    "osgeo",
    "osgi",
    "otf",
    "oxps",
    "package",
    "package+xml",
    "package-archive",
    "palm",
    "pawaafile",
    "pcap",
    "pcurl",
    "pcx",
    "pd",
    "pdf",
    "pg",
    "pgp-encrypted",
    "pgp-keys",
    "pgp-signature",
    "photoshop",
    "pic-bw-large",
    "pic-bw-small",
    "pic-bw-var",
    "pics-rules",
    "picsel",
    "pkcs10",
    "pkcs12",
    "pkcs7-mime",
    "pkcs7-signature",
    "pkcs8",
    "pkix-attr-cert",
    "pkix-cert",
    "pkix-crl",
    "pkix-pkipath",
    "pkixcmp",
    "plain",
    "player",
    "plc",
    "pls+xml",
    "pmi",
    "png",
    "pocketlearn",
    "portpkg",
    "post-it-notes",
    "postscript",
    "powerbuilder6",
    "presentation.macroenabled.12",
    "presentationml.presentation",
    "presentationml.slide",
    "presentationml.slideshow",
    "presentationml.template",
    "previewsystems",
    "proteus",
    "prs",
    "pskc+xml",
    "ptid1",
    "publishare-delta-tree",
    "pvi",
    "qbo",
    "qfx",
    "quark",
    "quarkxpress",
    "quickanime",
    "quicktime",
    "radio-preset",
    "radio-presets",
    "rar",
    "rcprofile",
    "rdf+xml",
    "rdz",
    "realvnc",
    "recordare",
    "reginfo+xml",
    "relax-ng-compact-syntax",
    "resource-lists+xml",
    "resource-lists-diff+xml",
    "rfc822",
    "richtext",
    "rig",
    "rights-management",
    "rim",
    "rip",
    "rls-services+xml",
    "rn-realmedia",
    "rn-realmedia-vbr",
    "route66",
    "rp9",
    "rpki-ghostbusters",
    "rpki-manifest",
    "rpki-roa",
    "rsd+xml",
    "rtf",
    "s3m",
    "sailingtracker",
    "salt",
    "sbml+xml",
    "scribus",
    "scurl",
    "scvp-cv-request",
    "scvp-cv-response",
    "scvp-vp-request",
    "scvp-vp-response",
    "sd",
    "sdkm+xml",
    "sdp",
    "sealedmedia",
    "seccat",
    "secure-container",
    "seed",
    "seemail",
    "sema",
    "semd",
    "semf",
    "service",
    "set-payment-initiation",
    "set-registration-initiation",
    "sfs",
    "sgml",
    "shana",
    "sheet.binary.macroenabled.12",
    "sheet.macroenabled.12",
    "shf+xml",
    "silk",
    "simply.aso",
    "simply.imp",
    "simtech-mindmapper",
    "slide.macroenabled.12",
    "slideshow.macroenabled.12",
    "smaf",
    "smaf-audio",
    "smaf-phrase",
    "smart",
    "smil+xml",
    "sof-data",
    "softseal.gif",
    "solent",
    "sp-midi",
    "space",
    "sparql-query",
    "sparql-results+xml",
    "spot",
    "spotfire",
    "spreadsheetml.sheet",
    "spreadsheetml.template",
    "sql",
    "srgs",
    "srgs+xml",
    "sru+xml",
    "ssdl+xml",
    "ssf",
    "ssml+xml",
    "stardivision",
    "stepchart",
    "stepmania",
    "stf",
    "stl",
    "style",
    "subsystem",
    "subtitle",
    "sun",
    "sus-calendar",
    "svd",
    "svg+xml",
    "swi",
    "symbian",
    "syncml",
    "syncml+xml",
    "tab-separated-values",
    "tag",
    "tao",
    "tcap",
    "tcpdump",
    "teacher",
    "tei+xml",
    "template.macroenabled.12",
    "text",
    "theme",
    "thraud+xml",
    "tiff",
    "timestamped-data",
    "tmobile-livetv",
    "tool",
    "tpt",
    "track",
    "trid",
    "triscape",
    "troff",
    "trueapp",
    "ttf",
    "ttml+xml",
    "turtle",
    "tuxedo",
    "txf",
    "ufdl",
    "uiq",
    "umajin",
    "unity",
    "unspecified",
    "uoml+xml",
    "uri-list",
    "vcard",
    "vcx",
    "video",
    "visio",
    "visionary",
    "vivo",
    "vnd",
    "voice",
    "voicexml+xml",
    "vrml",
    "vsf",
    "vtu",
    "wap",
    "wbmp",
    "wbs+xml",
    "wbxml",
    "weblaunch",
    "webm",
    "webp",
    "webturbo",
    "widget",
    "winhlp",
    "wml",
    "wmlc",
    "wmlscript",
    "wmlscriptc",
    "woff",
    "woff2",
    "wolfram",
    "wordperfect",
    "wordprocessingml.document",
    "wordprocessingml.template",
    "wqd",
    "writer",
    "writer-global",
    "wsdl+xml",
    "wspolicy+xml",
    "wt",
    "x-3ds",
    "x-7z-compressed",
    "x-abiword",
    "x-ace-compressed",
    "x-aiff",
    "x-apple-diskimage",
    "x-asm",
    "x-authorware-bin",
    "x-authorware-map",
    "x-authorware-seg",
    "x-bcpio",
    "x-bittorrent",
    "x-blorb",
    "x-bzip",
    "x-bzip2",
    "x-c",
    "x-c++hdr",
    "x-c++src",
    "x-caf",
    "x-cbr",
    "x-cdf",
    "x-cdlink",
    "x-cdx",
    "x-cfs-compressed",
    "x-chat",
    "x-chdr",
    "x-cif",
    "x-cmdf",
    "x-cml",
    "x-cmu-raster",
    "x-cmx",
    "x-conference",
    "x-cooltalk",
    "x-cpio",
    "x-csh",
    "x-csml",
    "x-csrc",
    "x-dgc-compressed",
    "x-director",
    "x-doom",
    "x-dtbncx+xml",
    "x-dtbook+xml",
    "x-dtbresource+xml",
    "x-dvi",
    "x-envoy",
    "x-eva",
    "x-f4v",
    "x-flv",
    "x-font",
    "x-font-bdf",
    "x-font-linux-psf",
    "x-font-pcf",
    "x-font-snf",
    "x-font-type1",
    "x-fortran",
    "x-freearc",
    "x-freehand",
    "x-gca-compressed",
    "x-glulx",
    "x-gnumeric",
    "x-gramps-xml",
    "x-gtar",
    "x-hdf",
    "x-install-instructions",
    "x-iso9660-image",
    "x-java",
    "x-java-jnlp-file",
    "x-latex",
    "x-lha",
    "x-lzh",
    "x-maker",
    "x-matroska",
    "x-mie",
    "x-mng",
    "x-mobipocket-ebook",
    "x-mrsid-image",
    "x-ms-application",
    "x-ms-asf",
    "x-ms-shortcut",
    "x-ms-vob",
    "x-ms-wax",
    "x-ms-wm",
    "x-ms-wma",
    "x-ms-wmd",
    "x-ms-wmv",
    "x-ms-wmx",
    "x-ms-wmz",
    "x-ms-wvx",
    "x-ms-xbap",
    "x-msbinder",
    "x-mscardfile",
    "x-msclip",
    "x-msdos-program",
    "x-msdownload",
    "x-msi",
    "x-msmediaview",
    "x-msmetafile",
    "x-msmoney",
    "x-msterminal",
    "x-msvideo",
    "x-mswrite",
    "x-netcdf",
    "x-nfo",
    "x-nzb",
    "x-opml",
    "x-pascal",
    "x-pict",
    "x-pkcs7-certificates",
    "x-pkcs7-certreqresp",
    "x-pn-realaudio",
    "x-pn-realaudio-plugin",
    "x-portable-anymap",
    "x-portable-bitmap",
    "x-portable-graymap",
    "x-portable-pixmap",
    "x-research-info-systems",
    "x-rgb",
    "x-rss+xml",
    "x-setext",
    "x-sfv",
    "x-sgi-movie",
    "x-sh",
    "x-shar",
    "x-silverlight-app",
    "x-smv",
    "x-stuffit",
    "x-subrip",
    "x-sv4cpio",
    "x-sv4crc",
    "x-t3vm-image",
    "x-tads",
    "x-tar",
    "x-tcl",
    "x-tex",
    "x-tex-tfm",
    "x-texinfo",
    "x-tga",
    "x-tgif",
    "x-ustar",
    "x-uuencode",
    "x-vcalendar",
    "x-wais-source",
    "x-wav",
    "x-x509-ca-cert",
    "x-xbitmap",
    "x-xfig",
    "x-xpinstall",
    "x-xpixmap",
    "x-xwindowdump",
    "x-xyz",
    "x-xz",
    "x-zmachine",
    "x3d+binary",
    "x3d+fastinfoset",
    "x3d+xml",
    "x3d-vrml",
    "xaml+xml",
    "xara",
    "xcap-diff+xml",
    "xcap-error+xml",
    "xdp+xml",
    "xenc+xml",
    "xfdf",
    "xfdl",
    "xhtml+xml",
    "xiff",
    "xliff+xml",
    "xm",
    "xml",
    "xml-dtd",
    "xml.calc",
    "xml.calc.template",
    "xml.draw",
    "xml.draw.template",
    "xml.impress",
    "xml.impress.template",
    "xml.math",
    "xml.writer",
    "xml.writer.global",
    "xml.writer.template",
    "xop+xml",
    "xproc+xml",
    "xslt+xml",
    "xspf+xml",
    "xul+xml",
    "xv+xml",
    "yamaha",
    "yang",
    "yellowriver-custom-menu",
    "yin+xml",
    "zbrush",
    "zip",
    "zul",
    "zzazz",
};

const MimeTypeRow mimetype_rows[MIMETYPE_ROW_COUNT + 1] = {
    {"ice", 716, 717, -1, -1}, // x-conference/x-cooltalk
    {"smv", 649, 809, -1, -1}, // video/x-smv
    {"movie", 649, 805, -1, -1}, // video/x-sgi-movie
    {"avi", 649, 784, -1, -1}, // video/x-msvideo
    {"wvx", 649, 772, -1, -1}, // video/x-ms-wvx
    {"wmx", 649, 770, -1, -1}, // video/x-ms-wmx
    {"wmv", 649, 769, -1, -1}, // video/x-ms-wmv
    {"wm", 649, 766, -1, -1}, // video/x-ms-wm
    {"vob", 649, 764, -1, -1}, // video/x-ms-vob
    {"asx", 649, 762, -1, -1}, // video/x-ms-asf
    {"asf", 649, 762, -1, -1}, // video/x-ms-asf
    {"mng", 649, 758, -1, -1}, // video/x-mng
    {"mkv", 649, 756, -1, -1}, // video/x-matroska
    {"mks", 649, 756, -1, -1}, // video/x-matroska
    {"mk3d", 649, 756, -1, -1}, // video/x-matroska
    {"flv", 649, 732, -1, -1}, // video/x-flv
    {"f4v", 649, 731, -1, -1}, // video/x-f4v
    {"webm", 649, 664, -1, -1}, // video/webm
    {"viv", 649, 653, 652, -1}, // video/vnd.vivo
    {"pyv", 649, 653, 377, 337}, // video/vnd.ms-playready.media.pyv
    {"mxu", 649, 653, 364, -1}, // video/vnd.mpegurl
    {"m4u", 649, 653, 364, -1}, // video/vnd.mpegurl
    {"fvt", 649, 653, 188, -1}, // video/vnd.fvt
    {"dvb", 649, 653, 128, 161}, // video/vnd.dvb.file
    {"uvvv", 649, 653, 105, 649}, // video/vnd.dece.video
    {"uvv", 649, 653, 105, 649}, // video/vnd.dece.video
    {"uvvs", 649, 653, 105, 549}, // video/vnd.dece.sd
    {"uvs", 649, 653, 105, 549}, // video/vnd.dece.sd
    {"uvvp", 649, 653, 105, 460}, // video/vnd.dece.pd
    {"uvp", 649, 653, 105, 460}, // video/vnd.dece.pd
    {"uvvu", 649, 653, 105, 362}, // video/vnd.dece.mp4
    {"uvu", 649, 653, 105, 362}, // video/vnd.dece.mp4
    {"uvvm", 649, 653, 105, 354}, // video/vnd.dece.mobile
    {"uvm", 649, 653, 105, 354}, // video/vnd.dece.mobile
    {"uvvh", 649, 653, 105, 222}, // video/vnd.dece.hd
    {"uvh", 649, 653, 105, 222}, // video/vnd.dece.hd
    {"qt", 649, 510, -1, -1}, // video/quicktime
    {"mov", 649, 510, -1, -1}, // video/quicktime
    {"ogv", 649, 421, -1, -1}, // video/ogg
    {"mpg", 649, 363, -1, -1}, // video/mpeg
    {"mpeg", 649, 363, -1, -1}, // video/mpeg
    {"mpe", 649, 363, -1, -1}, // video/mpeg
    {"m2v", 649, 363, -1, -1}, // video/mpeg
    {"m1v", 649, 363, -1, -1}, // video/mpeg
    {"mpg4", 649, 362, -1, -1}, // video/mp4
    {"mp4v", 649, 362, -1, -1}, // video/mp4
    {"mp4", 649, 362, -1, -1}, // video/mp4
    {"m4v", 649, 362, -1, -1}, // video/mp4
    {"mjp2", 649, 352, -1, -1}, // video/mj2
    {"mj2", 649, 352, -1, -1}, // video/mj2
    {"jpm", 649, 280, -1, -1}, // video/jpm
    {"jpgm", 649, 280, -1, -1}, // video/jpm
    {"jpgv", 649, 279, -1, -1}, // video/jpeg
    {"h264", 649, 218, -1, -1}, // video/h264
    {"h263", 649, 217, -1, -1}, // video/h263
    {"h261", 649, 216, -1, -1}, // video/h261
    {"fli", 649, 167, -1, -1}, // video/fli
    {"3g2", 649, 2, -1, -1}, // video/3gpp2
    {"3gp", 649, 1, -1, -1}, // video/3gpp
    {"vcs", 622, 825, -1, -1}, // text/x-vcalendar
    {"uu", 622, 824, -1, -1}, // text/x-uuencode
    {"sfv", 622, 804, -1, -1}, // text/x-sfv
    {"etx", 622, 803, -1, -1}, // text/x-setext
    {"pas", 622, 790, -1, -1}, // text/x-pascal
    {"p", 622, 790, -1, -1}, // text/x-pascal
    {"opml", 622, 789, -1, -1}, // text/x-opml
    {"nfo", 622, 787, -1, -1}, // text/x-nfo
    {"java", 622, 750, -1, -1}, // text/x-java
    {"for", 622, 739, -1, -1}, // text/x-fortran
    {"f90", 622, 739, -1, -1}, // text/x-fortran
    {"f77", 622, 739, -1, -1}, // text/x-fortran
    {"f", 622, 739, -1, -1}, // text/x-fortran
    {"c", 622, 721, -1, -1}, // text/x-csrc
    {"h", 622, 710, -1, -1}, // text/x-chdr
    {"cxx", 622, 702, -1, -1}, // text/x-c++src
    {"cpp", 622, 702, -1, -1}, // text/x-c++src
    {"cc", 622, 702, -1, -1}, // text/x-c++src
    {"hh", 622, 701, -1, -1}, // text/x-c++hdr
    {"dic", 622, 700, -1, -1}, // text/x-c
    {"s", 622, 691, -1, -1}, // text/x-asm
    {"asm", 622, 691, -1, -1}, // text/x-asm
    {"wmls", 622, 653, 659, 671}, // text/vnd.wap.wmlscript
    {"wml", 622, 653, 659, 669}, // text/vnd.wap.wml
    {"jad", 622, 653, 606, 268}, // text/vnd.sun.j2me.app-descriptor
    {"spot", 622, 653, 248, 587}, // text/vnd.in3d.spot
    {"3dml", 622, 653, 248, 0}, // text/vnd.in3d.3dml
    {"gv", 622, 653, 206, -1}, // text/vnd.graphviz
    {"flx", 622, 653, 172, 166}, // text/vnd.fmi.flexstor
    {"fly", 622, 653, 171, -1}, // text/vnd.fly
    {"sub", 622, 653, 128, 605}, // text/vnd.dvb.subtitle
    {"scurl", 622, 653, 94, 544}, // text/vnd.curl.scurl
    {"mcurl", 622, 653, 94, 334}, // text/vnd.curl.mcurl
    {"dcurl", 622, 653, 94, 101}, // text/vnd.curl.dcurl
    {"curl", 622, 653, 94, -1}, // text/vnd.curl
    {"vcf", 622, 647, -1, -1}, // text/vcard
    {"vcard", 622, 647, -1, -1}, // text/vcard
    {"urls", 622, 646, -1, -1}, // text/uri-list
    {"uris", 622, 646, -1, -1}, // text/uri-list
    {"uri", 622, 646, -1, -1}, // text/uri-list
    {"ttl", 622, 637, -1, -1}, // text/turtle
    {"tr", 622, 633, -1, -1}, // text/troff
    {"t", 622, 633, -1, -1}, // text/troff
    {"roff", 622, 633, -1, -1}, // text/troff
    {"ms", 622, 633, -1, -1}, // text/troff
    {"me", 622, 633, -1, -1}, // text/troff
    {"man", 622, 633, -1, -1}, // text/troff
    {"tsv", 622, 614, -1, -1}, // text/tab-separated-values
    {"sgml", 622, 564, -1, -1}, // text/sgml
    {"sgm", 622, 564, -1, -1}, // text/sgml
    {"rtx", 622, 524, -1, -1}, // text/richtext
    {"dsc", 622, 500, 307, 615}, // text/prs.lines.tag
    {"txt", 622, 482, -1, -1}, // text/plain
    {"text", 622, 482, -1, -1}, // text/plain
    {"log", 622, 482, -1, -1}, // text/plain
    {"list", 622, 482, -1, -1}, // text/plain
    {"in", 622, 482, -1, -1}, // text/plain
    {"def", 622, 482, -1, -1}, // text/plain
    {"conf", 622, 482, -1, -1}, // text/plain
    {"n3", 622, 401, -1, -1}, // text/n3
    {"mjs", 622, 274, -1, -1}, // text/javascript
    {"js", 622, 274, -1, -1}, // text/javascript
    {"html", 622, 230, -1, -1}, // text/html
    {"htm", 622, 230, -1, -1}, // text/html
    {"csv", 622, 90, -1, -1}, // text/csv
    {"css", 622, 89, -1, -1}, // text/css
    {"ifb", 622, 48, -1, -1}, // text/calendar
    {"ics", 622, 48, -1, -1}, // text/calendar
    {"appcache", 622, 46, -1, -1}, // text/cache-manifest
    {"x3dvz", 357, 840, -1, -1}, // model/x3d-vrml
    {"x3dv", 357, 840, -1, -1}, // model/x3d-vrml
    {"x3dz", 357, 839, -1, -1}, // model/x3d+xml
    {"x3d", 357, 839, -1, -1}, // model/x3d+xml
    {"x3db", 357, 838, -1, -1}, // model/x3d+fastinfoset
    {"x3dbz", 357, 837, -1, -1}, // model/x3d+binary
    {"wrl", 357, 656, -1, -1}, // model/vrml
    {"vrml", 357, 656, -1, -1}, // model/vrml
    {"vtu", 357, 653, 658, -1}, // model/vnd.vtu
    {"mts", 357, 653, 390, -1}, // model/vnd.mts
    {"gtw", 357, 653, 214, -1}, // model/vnd.gtw
    {"gdl", 357, 653, 192, -1}, // model/vnd.gdl
    {"dwf", 357, 653, 129, -1}, // model/vnd.dwf
    {"dae", 357, 653, 79, -1}, // model/vnd.collada+xml
    {"silo", 357, 340, -1, -1}, // model/mesh
    {"msh", 357, 340, -1, -1}, // model/mesh
    {"mesh", 357, 340, -1, -1}, // model/mesh
    {"igs", 357, 240, -1, -1}, // model/iges
    {"iges", 357, 240, -1, -1}, // model/iges
    {"mime", 341, 523, -1, -1}, // message/rfc822
    {"eml", 341, 523, -1, -1}, // message/rfc822
    {"xwd", 244, 833, -1, -1}, // image/x-xwindowdump
    {"xpm", 244, 832, -1, -1}, // image/x-xpixmap
    {"xbm", 244, 829, -1, -1}, // image/x-xbitmap
    {"tga", 244, 821, -1, -1}, // image/x-tga
    {"rgb", 244, 801, -1, -1}, // image/x-rgb
    {"ppm", 244, 799, -1, -1}, // image/x-portable-pixmap
    {"pgm", 244, 798, -1, -1}, // image/x-portable-graymap
    {"pbm", 244, 797, -1, -1}, // image/x-portable-bitmap
    {"pnm", 244, 796, -1, -1}, // image/x-portable-anymap
    {"pic", 244, 791, -1, -1}, // image/x-pict
    {"pct", 244, 791, -1, -1}, // image/x-pict
    {"sid", 244, 760, -1, -1}, // image/x-mrsid-image
    {"fhc", 244, 741, -1, -1}, // image/x-freehand
    {"fh7", 244, 741, -1, -1}, // image/x-freehand
    {"fh5", 244, 741, -1, -1}, // image/x-freehand
    {"fh4", 244, 741, -1, -1}, // image/x-freehand
    {"fh", 244, 741, -1, -1}, // image/x-freehand
    {"cmx", 244, 715, -1, -1}, // image/x-cmx
    {"ras", 244, 714, -1, -1}, // image/x-cmu-raster
    {"3ds", 244, 685, -1, -1}, // image/x-3ds
    {"webp", 244, 665, -1, -1}, // image/webp
    {"pcx", 244, 653, 875, 459}, // image/vnd.zbrush.pcx
    {"xif", 244, 653, 850, -1}, // image/vnd.xiff
    {"wbmp", 244, 653, 659, 660}, // image/vnd.wap.wbmp
    {"sgi", 244, 653, 552, 581}, // image/vnd.sealedmedia.softseal.gif
    {"npx", 244, 653, 402, -1}, // image/vnd.net-fpx
    {"wdp", 244, 653, 375, -1}, // image/vnd.ms-photo
    {"mdi", 244, 653, 373, -1}, // image/vnd.ms-modi
    {"ico", 244, 653, 348, 238}, // image/vnd.microsoft.icon
    {"rlc", 244, 653, 185, 142}, // image/vnd.fujixerox.edmics-rlc
    {"mmr", 244, 653, 185, 141}, // image/vnd.fujixerox.edmics-mmr
    {"fst", 244, 653, 183, -1}, // image/vnd.fst
    {"fpx", 244, 653, 179, -1}, // image/vnd.fpx
    {"fbs", 244, 653, 156, -1}, // image/vnd.fastbidsheet
    {"dxf", 244, 653, 131, -1}, // image/vnd.dxf
    {"dwg", 244, 653, 130, -1}, // image/vnd.dwg
    {"sub", 244, 653, 128, 605}, // image/vnd.dvb.subtitle
    {"djvu", 244, 653, 110, -1}, // image/vnd.djvu
    {"djv", 244, 653, 110, -1}, // image/vnd.djvu
    {"uvvi", 244, 653, 105, 205}, // image/vnd.dece.graphic
    {"uvvg", 244, 653, 105, 205}, // image/vnd.dece.graphic
    {"uvi", 244, 653, 105, 205}, // image/vnd.dece.graphic
    {"uvg", 244, 653, 105, 205}, // image/vnd.dece.graphic
    {"psd", 244, 653, 10, 466}, // image/vnd.adobe.photoshop
    {"tiff", 244, 625, -1, -1}, // image/tiff
    {"tif", 244, 625, -1, -1}, // image/tiff
    {"svgz", 244, 609, -1, -1}, // image/svg+xml
    {"svg", 244, 609, -1, -1}, // image/svg+xml
    {"btif", 244, 500, 43, -1}, // image/prs.btif
    {"png", 244, 487, -1, -1}, // image/png
    {"ktx", 244, 300, -1, -1}, // image/ktx
    {"jpg", 244, 279, -1, -1}, // image/jpeg
    {"jpeg", 244, 279, -1, -1}, // image/jpeg
    {"jpe", 244, 279, -1, -1}, // image/jpeg
    {"ief", 244, 239, -1, -1}, // image/ief
    {"gif", 244, 199, -1, -1}, // image/gif
    {"g3", 244, 190, -1, -1}, // image/g3fax
    {"cgm", 244, 60, -1, -1}, // image/cgm
    {"bmp", 244, 41, -1, -1}, // image/bmp
    {"woff2", 174, 674, -1, -1}, // font/woff2
    {"woff", 174, 673, -1, -1}, // font/woff
    {"ttf", 174, 635, -1, -1}, // font/ttf
    {"otf", 174, 450, -1, -1}, // font/otf
    {"ttc", 174, 80, -1, -1}, // font/collection
    {"xyz", 63, 834, -1, -1}, // chemical/x-xyz
    {"csml", 63, 720, -1, -1}, // chemical/x-csml
    {"cml", 63, 713, -1, -1}, // chemical/x-cml
    {"cmdf", 63, 712, -1, -1}, // chemical/x-cmdf
    {"cif", 63, 711, -1, -1}, // chemical/x-cif
    {"cdx", 63, 707, -1, -1}, // chemical/x-cdx
    {"xm", 34, 852, -1, -1}, // audio/xm
    {"wav", 34, 827, -1, -1}, // audio/x-wav
    {"rmp", 34, 795, -1, -1}, // audio/x-pn-realaudio-plugin
    {"ram", 34, 794, -1, -1}, // audio/x-pn-realaudio
    {"ra", 34, 794, -1, -1}, // audio/x-pn-realaudio
    {"wma", 34, 767, -1, -1}, // audio/x-ms-wma
    {"wax", 34, 765, -1, -1}, // audio/x-ms-wax
    {"mka", 34, 756, -1, -1}, // audio/x-matroska
    {"caf", 34, 703, -1, -1}, // audio/x-caf
    {"aiff", 34, 689, -1, -1}, // audio/x-aiff
    {"aifc", 34, 689, -1, -1}, // audio/x-aiff
    {"aif", 34, 689, -1, -1}, // audio/x-aiff
    {"weba", 34, 664, -1, -1}, // audio/webm
    {"rip", 34, 653, 528, -1}, // audio/vnd.rip
    {"ecelp9600", 34, 653, 411, 137}, // audio/vnd.nuera.ecelp9600
    {"ecelp7470", 34, 653, 411, 136}, // audio/vnd.nuera.ecelp7470
    {"ecelp4800", 34, 653, 411, 135}, // audio/vnd.nuera.ecelp4800
    {"pya", 34, 653, 377, 336}, // audio/vnd.ms-playready.media.pya
    {"lvp", 34, 653, 319, 654}, // audio/vnd.lucent.voice
    {"dtshd", 34, 653, 127, 222}, // audio/vnd.dts.hd
    {"dts", 34, 653, 127, -1}, // audio/vnd.dts
    {"dra", 34, 653, 121, -1}, // audio/vnd.dra
    {"eol", 34, 653, 108, -1}, // audio/vnd.digital-winds
    {"uvva", 34, 653, 105, 34}, // audio/vnd.dece.audio
    {"uva", 34, 653, 105, 34}, // audio/vnd.dece.audio
    {"mid", 34, 583, -1, -1}, // audio/sp-midi
    {"sil", 34, 569, -1, -1}, // audio/silk
    {"s3m", 34, 539, -1, -1}, // audio/s3m
    {"spx", 34, 421, -1, -1}, // audio/ogg
    {"opus", 34, 421, -1, -1}, // audio/ogg
    {"ogg", 34, 421, -1, -1}, // audio/ogg
    {"oga", 34, 421, -1, -1}, // audio/ogg
    {"m3u", 34, 364, -1, -1}, // audio/mpegurl
    {"mpga", 34, 363, -1, -1}, // audio/mpeg
    {"mp3", 34, 363, -1, -1}, // audio/mpeg
    {"mp2a", 34, 363, -1, -1}, // audio/mpeg
    {"mp2", 34, 363, -1, -1}, // audio/mpeg
    {"m3a", 34, 363, -1, -1}, // audio/mpeg
    {"m2a", 34, 363, -1, -1}, // audio/mpeg
    {"mp4a", 34, 362, -1, -1}, // audio/mp4
    {"m4a", 34, 362, -1, -1}, // audio/mp4
    {"rmi", 34, 349, -1, -1}, // audio/midi
    {"midi", 34, 349, -1, -1}, // audio/midi
    {"kar", 34, 349, -1, -1}, // audio/midi
    {"flac", 34, 164, -1, -1}, // audio/flac
    {"snd", 34, 36, -1, -1}, // audio/basic
    {"au", 34, 36, -1, -1}, // audio/basic
    {"adp", 34, 11, -1, -1}, // audio/adpcm
    {"aac", 34, 4, -1, -1}, // audio/aac
    {"zip", 27, 876, -1, -1}, // application/zip
    {"yin", 27, 874, -1, -1}, // application/yin+xml
    {"yang", 27, 872, -1, -1}, // application/yang
    {"xvml", 27, 870, -1, -1}, // application/xv+xml
    {"xvm", 27, 870, -1, -1}, // application/xv+xml
    {"xhvml", 27, 870, -1, -1}, // application/xv+xml
    {"mxml", 27, 870, -1, -1}, // application/xv+xml
    {"xspf", 27, 868, -1, -1}, // application/xspf+xml
    {"xslt", 27, 867, -1, -1}, // application/xslt+xml
    {"xsl", 27, 867, -1, -1}, // application/xslt+xml
    {"xpl", 27, 866, -1, -1}, // application/xproc+xml
    {"xop", 27, 865, -1, -1}, // application/xop+xml
    {"dtd", 27, 854, -1, -1}, // application/xml-dtd
    {"xml", 27, 853, -1, -1}, // application/xml
    {"xlf", 27, 851, -1, -1}, // application/xliff+xml
    {"xhtml", 27, 849, -1, -1}, // application/xhtml+xml
    {"xht", 27, 849, -1, -1}, // application/xhtml+xml
    {"xfdf", 27, 847, -1, -1}, // application/xfdf
    {"xenc", 27, 846, -1, -1}, // application/xenc+xml
    {"xer", 27, 844, -1, -1}, // application/xcap-error+xml
    {"xdf", 27, 843, -1, -1}, // application/xcap-diff+xml
    {"xaml", 27, 841, -1, -1}, // application/xaml+xml
    {"z8", 27, 836, -1, -1}, // application/x-zmachine
    {"z7", 27, 836, -1, -1}, // application/x-zmachine
    {"z6", 27, 836, -1, -1}, // application/x-zmachine
    {"z5", 27, 836, -1, -1}, // application/x-zmachine
    {"z4", 27, 836, -1, -1}, // application/x-zmachine
    {"z3", 27, 836, -1, -1}, // application/x-zmachine
    {"z2", 27, 836, -1, -1}, // application/x-zmachine
    {"z1", 27, 836, -1, -1}, // application/x-zmachine
    {"xz", 27, 835, -1, -1}, // application/x-xz
    {"xpi", 27, 831, -1, -1}, // application/x-xpinstall
    {"fig", 27, 830, -1, -1}, // application/x-xfig
    {"der", 27, 828, -1, -1}, // application/x-x509-ca-cert
    {"crt", 27, 828, -1, -1}, // application/x-x509-ca-cert
    {"src", 27, 826, -1, -1}, // application/x-wais-source
    {"ustar", 27, 823, -1, -1}, // application/x-ustar
    {"obj", 27, 822, -1, -1}, // application/x-tgif
    {"texinfo", 27, 820, -1, -1}, // application/x-texinfo
    {"texi", 27, 820, -1, -1}, // application/x-texinfo
    {"tfm", 27, 819, -1, -1}, // application/x-tex-tfm
    {"tex", 27, 818, -1, -1}, // application/x-tex
    {"tcl", 27, 817, -1, -1}, // application/x-tcl
    {"tar", 27, 816, -1, -1}, // application/x-tar
    {"gam", 27, 815, -1, -1}, // application/x-tads
    {"t3", 27, 814, -1, -1}, // application/x-t3vm-image
    {"sv4crc", 27, 813, -1, -1}, // application/x-sv4crc
    {"sv4cpio", 27, 812, -1, -1}, // application/x-sv4cpio
    {"srt", 27, 811, -1, -1}, // application/x-subrip
    {"sitx", 27, 810, -1, -1}, // application/x-stuffit
    {"sit", 27, 810, -1, -1}, // application/x-stuffit
    {"xap", 27, 808, -1, -1}, // application/x-silverlight-app
    {"shar", 27, 807, -1, -1}, // application/x-shar
    {"sh", 27, 806, -1, -1}, // application/x-sh
    {"rss", 27, 802, -1, -1}, // application/x-rss+xml
    {"ris", 27, 800, -1, -1}, // application/x-research-info-systems
    {"p7r", 27, 793, -1, -1}, // application/x-pkcs7-certreqresp
    {"spc", 27, 792, -1, -1}, // application/x-pkcs7-certificates
    {"p7b", 27, 792, -1, -1}, // application/x-pkcs7-certificates
    {"nzb", 27, 788, -1, -1}, // application/x-nzb
    {"nc", 27, 786, -1, -1}, // application/x-netcdf
    {"wri", 27, 785, -1, -1}, // application/x-mswrite
    {"trm", 27, 783, -1, -1}, // application/x-msterminal
    {"mny", 27, 782, -1, -1}, // application/x-msmoney
    {"wmz", 27, 781, -1, -1}, // application/x-msmetafile
    {"wmf", 27, 781, -1, -1}, // application/x-msmetafile
    {"emz", 27, 781, -1, -1}, // application/x-msmetafile
    {"emf", 27, 781, -1, -1}, // application/x-msmetafile
    {"mvb", 27, 780, -1, -1}, // application/x-msmediaview
    {"m14", 27, 780, -1, -1}, // application/x-msmediaview
    {"m13", 27, 780, -1, -1}, // application/x-msmediaview
    {"msi", 27, 779, -1, -1}, // application/x-msi
    {"exe", 27, 778, -1, -1}, // application/x-msdownload
    {"dll", 27, 777, -1, -1}, // application/x-msdos-program
    {"com", 27, 777, -1, -1}, // application/x-msdos-program
    {"bat", 27, 777, -1, -1}, // application/x-msdos-program
    {"clp", 27, 776, -1, -1}, // application/x-msclip
    {"crd", 27, 775, -1, -1}, // application/x-mscardfile
    {"obd", 27, 774, -1, -1}, // application/x-msbinder
    {"xbap", 27, 773, -1, -1}, // application/x-ms-xbap
    {"wmz", 27, 771, -1, -1}, // application/x-ms-wmz
    {"wmd", 27, 768, -1, -1}, // application/x-ms-wmd
    {"lnk", 27, 763, -1, -1}, // application/x-ms-shortcut
    {"application", 27, 761, -1, -1}, // application/x-ms-application
    {"prc", 27, 759, -1, -1}, // application/x-mobipocket-ebook
    {"mobi", 27, 759, -1, -1}, // application/x-mobipocket-ebook
    {"mie", 27, 757, -1, -1}, // application/x-mie
    {"maker", 27, 755, -1, -1}, // application/x-maker
    {"frame", 27, 755, -1, -1}, // application/x-maker
    {"book", 27, 755, -1, -1}, // application/x-maker
    {"lzh", 27, 754, -1, -1}, // application/x-lzh
    {"lha", 27, 753, -1, -1}, // application/x-lha
    {"latex", 27, 752, -1, -1}, // application/x-latex
    {"jnlp", 27, 751, -1, -1}, // application/x-java-jnlp-file
    {"iso", 27, 749, -1, -1}, // application/x-iso9660-image
    {"install", 27, 748, -1, -1}, // application/x-install-instructions
    {"hdf", 27, 747, -1, -1}, // application/x-hdf
    {"gtar", 27, 746, -1, -1}, // application/x-gtar
    {"gramps", 27, 745, -1, -1}, // application/x-gramps-xml
    {"gnumeric", 27, 744, -1, -1}, // application/x-gnumeric
    {"ulx", 27, 743, -1, -1}, // application/x-glulx
    {"gca", 27, 742, -1, -1}, // application/x-gca-compressed
    {"arc", 27, 740, -1, -1}, // application/x-freearc
    {"pfm", 27, 738, -1, -1}, // application/x-font-type1
    {"afm", 27, 738, -1, -1}, // application/x-font-type1
    {"snf", 27, 737, -1, -1}, // application/x-font-snf
    {"pcf", 27, 736, -1, -1}, // application/x-font-pcf
    {"psf", 27, 735, -1, -1}, // application/x-font-linux-psf
    {"bdf", 27, 734, -1, -1}, // application/x-font-bdf
    {"pfb", 27, 733, -1, -1}, // application/x-font
    {"pfa", 27, 733, -1, -1}, // application/x-font
    {"gsf", 27, 733, -1, -1}, // application/x-font
    {"eva", 27, 730, -1, -1}, // application/x-eva
    {"evy", 27, 729, -1, -1}, // application/x-envoy
    {"dvi", 27, 728, -1, -1}, // application/x-dvi
    {"res", 27, 727, -1, -1}, // application/x-dtbresource+xml
    {"dtb", 27, 726, -1, -1}, // application/x-dtbook+xml
    {"ncx", 27, 725, -1, -1}, // application/x-dtbncx+xml
    {"wad", 27, 724, -1, -1}, // application/x-doom
    {"w3d", 27, 723, -1, -1}, // application/x-director
    {"swa", 27, 723, -1, -1}, // application/x-director
    {"fgd", 27, 723, -1, -1}, // application/x-director
    {"dxr", 27, 723, -1, -1}, // application/x-director
    {"dir", 27, 723, -1, -1}, // application/x-director
    {"dcr", 27, 723, -1, -1}, // application/x-director
    {"cxt", 27, 723, -1, -1}, // application/x-director
    {"cct", 27, 723, -1, -1}, // application/x-director
    {"dgc", 27, 722, -1, -1}, // application/x-dgc-compressed
    {"csh", 27, 719, -1, -1}, // application/x-csh
    {"cpio", 27, 718, -1, -1}, // application/x-cpio
    {"nsc", 27, 716, -1, -1}, // application/x-conference
    {"chat", 27, 709, -1, -1}, // application/x-chat
    {"cfs", 27, 708, -1, -1}, // application/x-cfs-compressed
    {"vcd", 27, 706, -1, -1}, // application/x-cdlink
    {"cdf", 27, 705, -1, -1}, // application/x-cdf
    {"cbt", 27, 704, -1, -1}, // application/x-cbr
    {"cba", 27, 704, -1, -1}, // application/x-cbr
    {"cb7", 27, 704, -1, -1}, // application/x-cbr
    {"bz2", 27, 699, -1, -1}, // application/x-bzip2
    {"boz", 27, 699, -1, -1}, // application/x-bzip2
    {"bz", 27, 698, -1, -1}, // application/x-bzip
    {"blorb", 27, 697, -1, -1}, // application/x-blorb
    {"blb", 27, 697, -1, -1}, // application/x-blorb
    {"torrent", 27, 696, -1, -1}, // application/x-bittorrent
    {"bcpio", 27, 695, -1, -1}, // application/x-bcpio
    {"aas", 27, 694, -1, -1}, // application/x-authorware-seg
    {"aam", 27, 693, -1, -1}, // application/x-authorware-map
    {"x32", 27, 692, -1, -1}, // application/x-authorware-bin
    {"vox", 27, 692, -1, -1}, // application/x-authorware-bin
    {"u32", 27, 692, -1, -1}, // application/x-authorware-bin
    {"aab", 27, 692, -1, -1}, // application/x-authorware-bin
    {"dmg", 27, 690, -1, -1}, // application/x-apple-diskimage
    {"ace", 27, 688, -1, -1}, // application/x-ace-compressed
    {"abw", 27, 687, -1, -1}, // application/x-abiword
    {"7z", 27, 686, -1, -1}, // application/x-7z-compressed
    {"wspolicy", 27, 683, -1, -1}, // application/wspolicy+xml
    {"wsdl", 27, 682, -1, -1}, // application/wsdl+xml
    {"hlp", 27, 668, -1, -1}, // application/winhlp
    {"wgt", 27, 667, -1, -1}, // application/widget
    {"vxml", 27, 655, -1, -1}, // application/voicexml+xml
    {"zaz", 27, 653, 878, 106}, // application/vnd.zzazz.deck+xml
    {"zirz", 27, 653, 877, -1}, // application/vnd.zul
    {"zir", 27, 653, 877, -1}, // application/vnd.zul
    {"cmp", 27, 653, 873, -1}, // application/vnd.yellowriver-custom-menu
    {"spf", 27, 653, 871, 577}, // application/vnd.yamaha.smaf-phrase
    {"saf", 27, 653, 871, 576}, // application/vnd.yamaha.smaf-audio
    {"osfpvg", 27, 653, 871, 445}, // application/vnd.yamaha.openscoreformat.osfpvg+xml
    {"osf", 27, 653, 871, 444}, // application/vnd.yamaha.openscoreformat
    {"hvp", 27, 653, 871, 233}, // application/vnd.yamaha.hv-voice
    {"hvs", 27, 653, 871, 232}, // application/vnd.yamaha.hv-script
    {"hvd", 27, 653, 871, 231}, // application/vnd.yamaha.hv-dic
    {"xfdl", 27, 653, 848, -1}, // application/vnd.xfdl
    {"xar", 27, 653, 842, -1}, // application/vnd.xara
    {"stf", 27, 653, 684, 601}, // application/vnd.wt.stf
    {"wqd", 27, 653, 679, -1}, // application/vnd.wqd
    {"wpd", 27, 653, 676, -1}, // application/vnd.wordperfect
    {"nbp", 27, 653, 675, 483}, // application/vnd.wolfram.player
    {"nb", 27, 653, 675, 329}, // application/vnd.wolfram.mathematica
    {"wtb", 27, 653, 666, -1}, // application/vnd.webturbo
    {"wmlsc", 27, 653, 659, 672}, // application/vnd.wap.wmlscriptc
    {"wmlc", 27, 653, 659, 670}, // application/vnd.wap.wmlc
    {"wbxml", 27, 653, 659, 662}, // application/vnd.wap.wbxml
    {"vsf", 27, 653, 657, -1}, // application/vnd.vsf
    {"vis", 27, 653, 651, -1}, // application/vnd.visionary
    {"vsw", 27, 653, 650, -1}, // application/vnd.visio
    {"vst", 27, 653, 650, -1}, // application/vnd.visio
    {"vss", 27, 653, 650, -1}, // application/vnd.visio
    {"vsd", 27, 653, 650, -1}, // application/vnd.visio
    {"vcx", 27, 653, 648, -1}, // application/vnd.vcx
    {"uoml", 27, 653, 645, -1}, // application/vnd.uoml+xml
    {"unityweb", 27, 653, 643, -1}, // application/vnd.unity
    {"umj", 27, 653, 642, -1}, // application/vnd.umajin
    {"utz", 27, 653, 641, 623}, // application/vnd.uiq.theme
    {"ufdl", 27, 653, 640, -1}, // application/vnd.ufdl
    {"ufd", 27, 653, 640, -1}, // application/vnd.ufdl
    {"tra", 27, 653, 634, -1}, // application/vnd.trueapp
    {"mxs", 27, 653, 632, 397}, // application/vnd.triscape.mxs
    {"tpt", 27, 653, 631, 629}, // application/vnd.trid.tpt
    {"tmo", 27, 653, 627, -1}, // application/vnd.tmobile-livetv
    {"pcap", 27, 653, 618, 457}, // application/vnd.tcpdump.pcap
    {"dmp", 27, 653, 618, 457}, // application/vnd.tcpdump.pcap
    {"cap", 27, 653, 618, 457}, // application/vnd.tcpdump.pcap
    {"tao", 27, 653, 616, 257}, // application/vnd.tao.intent-module-archive
    {"xdm", 27, 653, 612, 112}, // application/vnd.syncml.dm+xml
    {"bdm", 27, 653, 612, 111}, // application/vnd.syncml.dm+wbxml
    {"xsm", 27, 653, 613, -1}, // application/vnd.syncml+xml
    {"sisx", 27, 653, 611, 255}, // application/vnd.symbian.install
    {"sis", 27, 653, 611, 255}, // application/vnd.symbian.install
    {"svd", 27, 653, 608, -1}, // application/vnd.svd
    {"susp", 27, 653, 607, -1}, // application/vnd.sus-calendar
    {"sus", 27, 653, 607, -1}, // application/vnd.sus-calendar
    {"stw", 27, 653, 606, 864}, // application/vnd.sun.xml.writer.template
    {"sxg", 27, 653, 606, 863}, // application/vnd.sun.xml.writer.global
    {"sxw", 27, 653, 606, 862}, // application/vnd.sun.xml.writer
    {"sxm", 27, 653, 606, 861}, // application/vnd.sun.xml.math
    {"sti", 27, 653, 606, 860}, // application/vnd.sun.xml.impress.template
    {"sxi", 27, 653, 606, 859}, // application/vnd.sun.xml.impress
    {"std", 27, 653, 606, 858}, // application/vnd.sun.xml.draw.template
    {"sxd", 27, 653, 606, 857}, // application/vnd.sun.xml.draw
    {"stc", 27, 653, 606, 856}, // application/vnd.sun.xml.calc.template
    {"sxc", 27, 653, 606, 855}, // application/vnd.sun.xml.calc
    {"sm", 27, 653, 600, 599}, // application/vnd.stepmania.stepchart
    {"smzip", 27, 653, 600, 452}, // application/vnd.stepmania.package
    {"sgl", 27, 653, 598, 681}, // application/vnd.stardivision.writer-global
    {"vor", 27, 653, 598, 680}, // application/vnd.stardivision.writer
    {"sdw", 27, 653, 598, 680}, // application/vnd.stardivision.writer
    {"smf", 27, 653, 598, 328}, // application/vnd.stardivision.math
    {"sdd", 27, 653, 598, 247}, // application/vnd.stardivision.impress
    {"sda", 27, 653, 598, 122}, // application/vnd.stardivision.draw
    {"sdc", 27, 653, 598, 47}, // application/vnd.stardivision.calc
    {"sfs", 27, 653, 588, 563}, // application/vnd.spotfire.sfs
    {"dxp", 27, 653, 588, 132}, // application/vnd.spotfire.dxp
    {"sdkm", 27, 653, 582, 550}, // application/vnd.solent.sdkm+xml
    {"sdkd", 27, 653, 582, 550}, // application/vnd.solent.sdkm+xml
    {"teacher", 27, 653, 578, 619}, // application/vnd.smart.teacher
    {"mmf", 27, 653, 575, -1}, // application/vnd.smaf
    {"twds", 27, 653, 572, -1}, // application/vnd.simtech-mindmapper
    {"twd", 27, 653, 572, -1}, // application/vnd.simtech-mindmapper
    {"ipk", 27, 653, 565, 252}, // application/vnd.shana.informed.package
    {"iif", 27, 653, 565, 251}, // application/vnd.shana.informed.interchange
    {"itp", 27, 653, 565, 250}, // application/vnd.shana.informed.formtemplate
    {"ifm", 27, 653, 565, 249}, // application/vnd.shana.informed.formdata
    {"semf", 27, 653, 559, -1}, // application/vnd.semf
    {"semd", 27, 653, 558, -1}, // application/vnd.semd
    {"sema", 27, 653, 557, -1}, // application/vnd.sema
    {"see", 27, 653, 556, -1}, // application/vnd.seemail
    {"scd", 27, 653, 543, -1}, // application/vnd.scribus
    {"st", 27, 653, 540, 630}, // application/vnd.sailingtracker.track
    {"link66", 27, 653, 532, 308}, // application/vnd.route66.link66+xml
    {"rmvb", 27, 653, 531, -1}, // application/vnd.rn-realmedia-vbr
    {"rm", 27, 653, 530, -1}, // application/vnd.rn-realmedia
    {"cod", 27, 653, 527, 78}, // application/vnd.rim.cod
    {"cryptonote", 27, 653, 525, 88}, // application/vnd.rig.cryptonote
    {"musicxml", 27, 653, 518, 394}, // application/vnd.recordare.musicxml+xml
    {"mxl", 27, 653, 518, 393}, // application/vnd.recordare.musicxml
    {"bed", 27, 653, 517, 37}, // application/vnd.realvnc.bed
    {"rar", 27, 653, 513, -1}, // application/vnd.rar
    {"qxt", 27, 653, 507, 508}, // application/vnd.quark.quarkxpress
    {"qxl", 27, 653, 507, 508}, // application/vnd.quark.quarkxpress
    {"qxd", 27, 653, 507, 508}, // application/vnd.quark.quarkxpress
    {"qxb", 27, 653, 507, 508}, // application/vnd.quark.quarkxpress
    {"qwt", 27, 653, 507, 508}, // application/vnd.quark.quarkxpress
    {"qwd", 27, 653, 507, 508}, // application/vnd.quark.quarkxpress
    {"ptid", 27, 653, 504, 502}, // application/vnd.pvi.ptid1
    {"qps", 27, 653, 503, -1}, // application/vnd.publishare-delta-tree
    {"mgz", 27, 653, 499, 324}, // application/vnd.proteus.magazine
    {"box", 27, 653, 498, 42}, // application/vnd.previewsystems.box
    {"pbd", 27, 653, 492, -1}, // application/vnd.powerbuilder6
    {"plf", 27, 653, 488, -1}, // application/vnd.pocketlearn
    {"wg", 27, 653, 486, 667}, // application/vnd.pmi.widget
    {"efif", 27, 653, 471, -1}, // application/vnd.picsel
    {"ei6", 27, 653, 462, 447}, // application/vnd.pg.osasli
    {"str", 27, 653, 462, 176}, // application/vnd.pg.format
    {"paw", 27, 653, 456, -1}, // application/vnd.pawaafile
    {"pqa", 27, 653, 455, -1}, // application/vnd.palm
    {"pdb", 27, 653, 455, -1}, // application/vnd.palm
    {"oprc", 27, 653, 455, -1}, // application/vnd.palm
    {"esa", 27, 653, 449, 604}, // application/vnd.osgi.subsystem
    {"dp", 27, 653, 449, 119}, // application/vnd.osgi.dp
    {"mgp", 27, 653, 448, 325}, // application/vnd.osgeo.mapguide.package
    {"dotx", 27, 653, 446, 678}, // application/vnd.openxmlformats-officedocument.wordprocessingml.template
    {"docx", 27, 653, 446, 677}, // application/vnd.openxmlformats-officedocument.wordprocessingml.document
    {"xltx", 27, 653, 446, 590}, // application/vnd.openxmlformats-officedocument.spreadsheetml.template
    {"xlsx", 27, 653, 446, 589}, // application/vnd.openxmlformats-officedocument.spreadsheetml.sheet
    {"potx", 27, 653, 446, 497}, // application/vnd.openxmlformats-officedocument.presentationml.template
    {"ppsx", 27, 653, 446, 496}, // application/vnd.openxmlformats-officedocument.presentationml.slideshow
    {"sldx", 27, 653, 446, 495}, // application/vnd.openxmlformats-officedocument.presentationml.slide
    {"pptx", 27, 653, 446, 494}, // application/vnd.openxmlformats-officedocument.presentationml.presentation
    {"oxt", 27, 653, 443, 153}, // application/vnd.openofficeorg.extension
    {"dd2", 27, 653, 423, 102}, // application/vnd.oma.dd2+xml
    {"xo", 27, 653, 422, -1}, // application/vnd.olpc-sugar
    {"oth", 27, 653, 412, 442}, // application/vnd.oasis.opendocument.text-web
    {"ott", 27, 653, 412, 441}, // application/vnd.oasis.opendocument.text-template
    {"odm", 27, 653, 412, 440}, // application/vnd.oasis.opendocument.text-master
    {"odt", 27, 653, 412, 439}, // application/vnd.oasis.opendocument.text
    {"ots", 27, 653, 412, 438}, // application/vnd.oasis.opendocument.spreadsheet-template
    {"ods", 27, 653, 412, 437}, // application/vnd.oasis.opendocument.spreadsheet
    {"otp", 27, 653, 412, 436}, // application/vnd.oasis.opendocument.presentation-template
    {"odp", 27, 653, 412, 435}, // application/vnd.oasis.opendocument.presentation
    {"oti", 27, 653, 412, 434}, // application/vnd.oasis.opendocument.image-template
    {"odi", 27, 653, 412, 433}, // application/vnd.oasis.opendocument.image
    {"otg", 27, 653, 412, 432}, // application/vnd.oasis.opendocument.graphics-template
    {"odg", 27, 653, 412, 431}, // application/vnd.oasis.opendocument.graphics
    {"odft", 27, 653, 412, 430}, // application/vnd.oasis.opendocument.formula-template
    {"odf", 27, 653, 412, 429}, // application/vnd.oasis.opendocument.formula
    {"otc", 27, 653, 412, 428}, // application/vnd.oasis.opendocument.chart-template
    {"odc", 27, 653, 412, 427}, // application/vnd.oasis.opendocument.chart
    {"odb", 27, 653, 412, 426}, // application/vnd.oasis.opendocument.base
    {"ext", 27, 653, 410, 152}, // application/vnd.novadigm.ext
    {"edx", 27, 653, 410, 143}, // application/vnd.novadigm.edx
    {"edm", 27, 653, 410, 140}, // application/vnd.novadigm.edm
    {"rpss", 27, 653, 409, 512}, // application/vnd.nokia.radio-presets
    {"rpst", 27, 653, 409, 511}, // application/vnd.nokia.radio-preset
    {"n-gage", 27, 653, 409, 400}, // application/vnd.nokia.n-gage.symbian.install
    {"ngdat", 27, 653, 409, 399}, // application/vnd.nokia.n-gage.data
    {"nnw", 27, 653, 408, -1}, // application/vnd.noblenet-web
    {"nns", 27, 653, 407, -1}, // application/vnd.noblenet-sealer
    {"nnd", 27, 653, 406, -1}, // application/vnd.noblenet-directory
    {"nitf", 27, 653, 404, -1}, // application/vnd.nitf
    {"nlu", 27, 653, 403, 405}, // application/vnd.neurolanguage.nlu
    {"taglet", 27, 653, 398, -1}, // application/vnd.mynfc
    {"msty", 27, 653, 395, 603}, // application/vnd.muvee.style
    {"mus", 27, 653, 392, -1}, // application/vnd.musician
    {"mseq", 27, 653, 386, -1}, // application/vnd.mseq
    {"xps", 27, 653, 383, -1}, // application/vnd.ms-xpsdocument
    {"wpl", 27, 653, 382, -1}, // application/vnd.ms-wpl
    {"wps", 27, 653, 381, -1}, // application/vnd.ms-works
    {"wks", 27, 653, 381, -1}, // application/vnd.ms-works
    {"wdb", 27, 653, 381, -1}, // application/vnd.ms-works
    {"wcm", 27, 653, 381, -1}, // application/vnd.ms-works
    {"dotm", 27, 653, 380, 621}, // application/vnd.ms-word.template.macroenabled.12
    {"docm", 27, 653, 380, 115}, // application/vnd.ms-word.document.macroenabled.12
    {"mpt", 27, 653, 379, -1}, // application/vnd.ms-project
    {"mpp", 27, 653, 379, -1}, // application/vnd.ms-project
    {"potm", 27, 653, 378, 621}, // application/vnd.ms-powerpoint.template.macroenabled.12
    {"ppsm", 27, 653, 378, 574}, // application/vnd.ms-powerpoint.slideshow.macroenabled.12
    {"sldm", 27, 653, 378, 573}, // application/vnd.ms-powerpoint.slide.macroenabled.12
    {"pptm", 27, 653, 378, 493}, // application/vnd.ms-powerpoint.presentation.macroenabled.12
    {"ppam", 27, 653, 378, 9}, // application/vnd.ms-powerpoint.addin.macroenabled.12
    {"ppt", 27, 653, 378, -1}, // application/vnd.ms-powerpoint
    {"pps", 27, 653, 378, -1}, // application/vnd.ms-powerpoint
    {"pot", 27, 653, 378, -1}, // application/vnd.ms-powerpoint
    {"stl", 27, 653, 376, 602}, // application/vnd.ms-pki.stl
    {"cat", 27, 653, 376, 553}, // application/vnd.ms-pki.seccat
    {"thmx", 27, 653, 374, -1}, // application/vnd.ms-officetheme
    {"lrm", 27, 653, 372, -1}, // application/vnd.ms-lrm
    {"ims", 27, 653, 371, -1}, // application/vnd.ms-ims
    {"chm", 27, 653, 370, -1}, // application/vnd.ms-htmlhelp
    {"eot", 27, 653, 369, -1}, // application/vnd.ms-fontobject
    {"xltm", 27, 653, 368, 621}, // application/vnd.ms-excel.template.macroenabled.12
    {"xlsm", 27, 653, 368, 567}, // application/vnd.ms-excel.sheet.macroenabled.12
    {"xlsb", 27, 653, 368, 566}, // application/vnd.ms-excel.sheet.binary.macroenabled.12
    {"xlam", 27, 653, 368, 9}, // application/vnd.ms-excel.addin.macroenabled.12
    {"xlw", 27, 653, 368, -1}, // application/vnd.ms-excel
    {"xlt", 27, 653, 368, -1}, // application/vnd.ms-excel
    {"xls", 27, 653, 368, -1}, // application/vnd.ms-excel
    {"xlm", 27, 653, 368, -1}, // application/vnd.ms-excel
    {"xlc", 27, 653, 368, -1}, // application/vnd.ms-excel
    {"xla", 27, 653, 368, -1}, // application/vnd.ms-excel
    {"cab", 27, 653, 367, -1}, // application/vnd.ms-cab-compressed
    {"cil", 27, 653, 366, -1}, // application/vnd.ms-artgalry
    {"xul", 27, 653, 360, 869}, // application/vnd.mozilla.xul+xml
    {"mpc", 27, 653, 359, 59}, // application/vnd.mophun.certificate
    {"mpn", 27, 653, 359, 27}, // application/vnd.mophun.application
    {"txf", 27, 653, 355, 639}, // application/vnd.mobius.txf
    {"plc", 27, 653, 355, 484}, // application/vnd.mobius.plc
    {"msl", 27, 653, 355, 388}, // application/vnd.mobius.msl
    {"mqy", 27, 653, 355, 365}, // application/vnd.mobius.mqy
    {"mbk", 27, 653, 355, 331}, // application/vnd.mobius.mbk
    {"dis", 27, 653, 355, 109}, // application/vnd.mobius.dis
    {"daf", 27, 653, 355, 96}, // application/vnd.mobius.daf
    {"mif", 27, 653, 350, -1}, // application/vnd.mif
    {"igx", 27, 653, 347, 243}, // application/vnd.micrografx.igx
    {"flo", 27, 653, 347, 168}, // application/vnd.micrografx.flo
    {"mfm", 27, 653, 346, -1}, // application/vnd.mfmp
    {"mwf", 27, 653, 345, -1}, // application/vnd.mfer
    {"cdkey", 27, 653, 339, 53}, // application/vnd.mediastation.cdkey
    {"mc1", 27, 653, 335, -1}, // application/vnd.medcalcdata
    {"mcd", 27, 653, 333, -1}, // application/vnd.mcd
    {"portpkg", 27, 653, 322, 489}, // application/vnd.macports.portpkg
    {"lwp", 27, 653, 317, -1}, // application/vnd.lotus-wordpro
    {"scm", 27, 653, 316, -1}, // application/vnd.lotus-screencam
    {"org", 27, 653, 315, -1}, // application/vnd.lotus-organizer
    {"ntf", 27, 653, 314, -1}, // application/vnd.lotus-notes
    {"nsf", 27, 653, 314, -1}, // application/vnd.lotus-notes
    {"pre", 27, 653, 313, -1}, // application/vnd.lotus-freelance
    {"apr", 27, 653, 312, -1}, // application/vnd.lotus-approach
    {"123", 27, 653, 311, -1}, // application/vnd.lotus-1-2-3
    {"lbe", 27, 653, 309, 306}, // application/vnd.llamagraphics.life-balance.exchange+xml
    {"lbd", 27, 653, 309, 305}, // application/vnd.llamagraphics.life-balance.desktop
    {"lasxml", 27, 653, 302, 303}, // application/vnd.las.las+xml
    {"sse", 27, 653, 296, -1}, // application/vnd.kodak-descriptor
    {"skt", 27, 653, 295, -1}, // application/vnd.koan
    {"skp", 27, 653, 295, -1}, // application/vnd.koan
    {"skm", 27, 653, 295, -1}, // application/vnd.koan
    {"skd", 27, 653, 295, -1}, // application/vnd.koan
    {"knp", 27, 653, 291, -1}, // application/vnd.kinar
    {"kne", 27, 653, 291, -1}, // application/vnd.kinar
    {"kia", 27, 653, 290, -1}, // application/vnd.kidspiration
    {"htke", 27, 653, 288, -1}, // application/vnd.kenameaapp
    {"kwt", 27, 653, 287, 301}, // application/vnd.kde.kword
    {"kwd", 27, 653, 287, 301}, // application/vnd.kde.kword
    {"ksp", 27, 653, 287, 299}, // application/vnd.kde.kspread
    {"kpt", 27, 653, 287, 298}, // application/vnd.kde.kpresenter
    {"kpr", 27, 653, 287, 298}, // application/vnd.kde.kpresenter
    {"kon", 27, 653, 287, 297}, // application/vnd.kde.kontour
    {"flw", 27, 653, 287, 292}, // application/vnd.kde.kivio
    {"kfo", 27, 653, 287, 289}, // application/vnd.kde.kformula
    {"chrt", 27, 653, 287, 286}, // application/vnd.kde.kchart
    {"karbon", 27, 653, 287, 285}, // application/vnd.kde.karbon
    {"ktz", 27, 653, 283, -1}, // application/vnd.kahootz
    {"ktr", 27, 653, 283, -1}, // application/vnd.kahootz
    {"joda", 27, 653, 278, 277}, // application/vnd.joost.joda-archive
    {"jisp", 27, 653, 276, -1}, // application/vnd.jisp
    {"rms", 27, 653, 275, 273}, // application/vnd.jcp.javame.midlet-rms
    {"jam", 27, 653, 269, -1}, // application/vnd.jam
    {"fcs", 27, 653, 267, 157}, // application/vnd.isac.fcs
    {"xpr", 27, 653, 266, -1}, // application/vnd.is-xpr
    {"irp", 27, 653, 265, 453}, // application/vnd.irepository.package+xml
    {"rcprofile", 27, 653, 264, 514}, // application/vnd.ipunplugged.rcprofile
    {"car", 27, 653, 263, 49}, // application/vnd.ipld.car
    {"qfx", 27, 653, 260, 506}, // application/vnd.intu.qfx
    {"qbo", 27, 653, 260, 505}, // application/vnd.intu.qbo
    {"i2g", 27, 653, 259, -1}, // application/vnd.intergeo
    {"xpx", 27, 653, 258, 177}, // application/vnd.intercon.formnet
    {"xpw", 27, 653, 258, 177}, // application/vnd.intercon.formnet
    {"igm", 27, 653, 254, 242}, // application/vnd.insors.igm
    {"ivu", 27, 653, 246, -1}, // application/vnd.immervision-ivu
    {"ivp", 27, 653, 245, -1}, // application/vnd.immervision-ivp
    {"igl", 27, 653, 241, -1}, // application/vnd.igloader
    {"icm", 27, 653, 237, -1}, // application/vnd.iccprofile
    {"icc", 27, 653, 237, -1}, // application/vnd.iccprofile
    {"sc", 27, 653, 236, 554}, // application/vnd.ibm.secure-container
    {"irm", 27, 653, 236, 526}, // application/vnd.ibm.rights-management
    {"mpy", 27, 653, 236, 351}, // application/vnd.ibm.minipay
    {"sfd-hdstx", 27, 653, 234, 580}, // application/vnd.hydrostatix.sof-data
    {"pclxl", 27, 653, 229, -1}, // application/vnd.hp-pclxl
    {"pcl", 27, 653, 228, -1}, // application/vnd.hp-pcl
    {"jlt", 27, 653, 227, -1}, // application/vnd.hp-jlyt
    {"hps", 27, 653, 226, -1}, // application/vnd.hp-hps
    {"hpid", 27, 653, 225, -1}, // application/vnd.hp-hpid
    {"hpgl", 27, 653, 224, -1}, // application/vnd.hp-hpgl
    {"les", 27, 653, 223, 304}, // application/vnd.hhe.lesson-player
    {"hbci", 27, 653, 221, -1}, // application/vnd.hbci
    {"zmm", 27, 653, 220, -1}, // application/vnd.handheld-entertainment+xml
    {"hal", 27, 653, 219, -1}, // application/vnd.hal+xml
    {"vcg", 27, 653, 213, -1}, // application/vnd.groove-vcard
    {"tpl", 27, 653, 212, -1}, // application/vnd.groove-tool-template
    {"gtm", 27, 653, 211, -1}, // application/vnd.groove-tool-message
    {"grv", 27, 653, 210, -1}, // application/vnd.groove-injector
    {"gim", 27, 653, 209, -1}, // application/vnd.groove-identity-message
    {"ghf", 27, 653, 208, -1}, // application/vnd.groove-help
    {"gac", 27, 653, 207, -1}, // application/vnd.groove-account
    {"gqs", 27, 653, 204, -1}, // application/vnd.grafeq
    {"gqf", 27, 653, 204, -1}, // application/vnd.grafeq
    {"kmz", 27, 653, 202, 294}, // application/vnd.google-earth.kmz
    {"kml", 27, 653, 202, 293}, // application/vnd.google-earth.kml+xml
    {"gmx", 27, 653, 201, -1}, // application/vnd.gmx
    {"g3w", 27, 653, 198, -1}, // application/vnd.geospace
    {"g2w", 27, 653, 197, -1}, // application/vnd.geoplan
    {"gxt", 27, 653, 196, -1}, // application/vnd.geonext
    {"gre", 27, 653, 195, -1}, // application/vnd.geometry-explorer
    {"gex", 27, 653, 195, -1}, // application/vnd.geometry-explorer
    {"ggt", 27, 653, 194, 628}, // application/vnd.geogebra.tool
    {"ggb", 27, 653, 194, 161}, // application/vnd.geogebra.file
    {"txd", 27, 653, 193, 638}, // application/vnd.genomatix.tuxedo
    {"fzs", 27, 653, 187, -1}, // application/vnd.fuzzysheet
    {"xbd", 27, 653, 185, 117}, // application/vnd.fujixerox.docuworks.binder
    {"xdw", 27, 653, 185, 116}, // application/vnd.fujixerox.docuworks
    {"ddd", 27, 653, 185, 103}, // application/vnd.fujixerox.ddd
    {"bh2", 27, 653, 184, 417}, // application/vnd.fujitsu.oasysprs
    {"fg5", 27, 653, 184, 416}, // application/vnd.fujitsu.oasysgp
    {"oa3", 27, 653, 184, 415}, // application/vnd.fujitsu.oasys3
    {"oa2", 27, 653, 184, 414}, // application/vnd.fujitsu.oasys2
    {"oas", 27, 653, 184, 413}, // application/vnd.fujitsu.oasys
    {"fsc", 27, 653, 182, 663}, // application/vnd.fsc.weblaunch
    {"ltf", 27, 653, 181, 318}, // application/vnd.frogans.ltf
    {"fnc", 27, 653, 181, 173}, // application/vnd.frogans.fnc
    {"fm", 27, 653, 180, -1}, // application/vnd.framemaker
    {"ftc", 27, 653, 170, 73}, // application/vnd.fluxtime.clip
    {"gph", 27, 653, 169, -1}, // application/vnd.flographit
    {"seed", 27, 653, 160, 555}, // application/vnd.fdsn.seed
    {"dataless", 27, 653, 160, 555}, // application/vnd.fdsn.seed
    {"mseed", 27, 653, 160, 385}, // application/vnd.fdsn.mseed
    {"ez3", 27, 653, 155, -1}, // application/vnd.ezpix-package
    {"ez2", 27, 653, 154, -1}, // application/vnd.ezpix-album
    {"pub", 27, 653, 151, -1}, // application/vnd.exstream-package
    {"et3", 27, 653, 149, -1}, // application/vnd.eszigno3+xml
    {"es3", 27, 653, 149, -1}, // application/vnd.eszigno3+xml
    {"ssf", 27, 653, 146, 596}, // application/vnd.epson.ssf
    {"slt", 27, 653, 146, 541}, // application/vnd.epson.salt
    {"qam", 27, 653, 146, 509}, // application/vnd.epson.quickanime
    {"msf", 27, 653, 146, 387}, // application/vnd.epson.msf
    {"esf", 27, 653, 146, 148}, // application/vnd.epson.esf
    {"nml", 27, 653, 145, -1}, // application/vnd.enliven
    {"mag", 27, 653, 139, 61}, // application/vnd.ecowin.chart
    {"geo", 27, 653, 133, -1}, // application/vnd.dynageo
    {"svc", 27, 653, 128, 560}, // application/vnd.dvb.service
    {"ait", 27, 653, 128, 16}, // application/vnd.dvb.ait
    {"kpxx", 27, 653, 124, -1}, // application/vnd.ds-keypoint
    {"dfac", 27, 653, 123, -1}, // application/vnd.dreamfactory
    {"dpg", 27, 653, 120, -1}, // application/vnd.dpgraph
    {"mlp", 27, 653, 118, 353}, // application/vnd.dolby.mlp
    {"dna", 27, 653, 113, -1}, // application/vnd.dna
    {"fe_launch", 27, 653, 107, 158}, // application/vnd.denovo.fcselayout-link
    {"uvz", 27, 653, 105, 876}, // application/vnd.dece.zip
    {"uvvz", 27, 653, 105, 876}, // application/vnd.dece.zip
    {"uvx", 27, 653, 105, 644}, // application/vnd.dece.unspecified
    {"uvvx", 27, 653, 105, 644}, // application/vnd.dece.unspecified
    {"uvvt", 27, 653, 105, 636}, // application/vnd.dece.ttml+xml
    {"uvt", 27, 653, 105, 636}, // application/vnd.dece.ttml+xml
    {"uvvf", 27, 653, 105, 98}, // application/vnd.dece.data
    {"uvvd", 27, 653, 105, 98}, // application/vnd.dece.data
    {"uvf", 27, 653, 105, 98}, // application/vnd.dece.data
    {"uvd", 27, 653, 105, 98}, // application/vnd.dece.data
    {"udeb", 27, 653, 104, 38}, // application/vnd.debian.binary-package
    {"deb", 27, 653, 104, 38}, // application/vnd.debian.binary-package
    {"rdz", 27, 653, 99, 516}, // application/vnd.data-vision.rdz
    {"dart", 27, 653, 97, -1}, // application/vnd.dart
    {"pcurl", 27, 653, 94, 458}, // application/vnd.curl.pcurl
    {"ppd", 27, 653, 93, -1}, // application/vnd.cups-ppd
    {"pml", 27, 653, 91, -1}, // application/vnd.ctc-posml
    {"wbs", 27, 653, 87, 661}, // application/vnd.criticaltools.wbs+xml
    {"clkw", 27, 653, 86, 72}, // application/vnd.crick.clicker.wordbank
    {"clkt", 27, 653, 86, 71}, // application/vnd.crick.clicker.template
    {"clkp", 27, 653, 86, 70}, // application/vnd.crick.clicker.palette
    {"clkk", 27, 653, 86, 69}, // application/vnd.crick.clicker.keyboard
    {"clkx", 27, 653, 86, 68}, // application/vnd.crick.clicker
    {"cmc", 27, 653, 85, -1}, // application/vnd.cosmocaller
    {"cdbcmsg", 27, 653, 84, 77}, // application/vnd.contact.cmsg
    {"cst", 27, 653, 83, -1}, // application/vnd.commonspace
    {"csp", 27, 653, 83, -1}, // application/vnd.commonspace
    {"cbr", 27, 653, 82, -1}, // application/vnd.comicbook-rar
    {"cbz", 27, 653, 81, -1}, // application/vnd.comicbook+zip
    {"c11amz", 27, 653, 76, 51}, // application/vnd.cluetrust.cartomobile-config-pkg
    {"c11amc", 27, 653, 76, 50}, // application/vnd.cluetrust.cartomobile-config
    {"c4u", 27, 653, 75, 45}, // application/vnd.clonk.c4group
    {"c4p", 27, 653, 75, 45}, // application/vnd.clonk.c4group
    {"c4g", 27, 653, 75, 45}, // application/vnd.clonk.c4group
    {"c4f", 27, 653, 75, 45}, // application/vnd.clonk.c4group
    {"c4d", 27, 653, 75, 45}, // application/vnd.clonk.c4group
    {"rp9", 27, 653, 74, 533}, // application/vnd.cloanto.rp9
    {"cla", 27, 653, 67, -1}, // application/vnd.claymore
    {"cdy", 27, 653, 66, -1}, // application/vnd.cinderella
    {"mmd", 27, 653, 65, 284}, // application/vnd.chipnuts.karaoke-mmd
    {"pgn", 27, 653, 64, -1}, // application/vnd.chess-pgn
    {"cdxml", 27, 653, 62, -1}, // application/vnd.chemdraw+xml
    {"rep", 27, 653, 44, -1}, // application/vnd.businessobjects
    {"bmi", 27, 653, 40, -1}, // application/vnd.bmi
    {"mpm", 27, 653, 39, 391}, // application/vnd.blueice.multipass
    {"aep", 27, 653, 35, -1}, // application/vnd.audiograph
    {"iota", 27, 653, 30, 261}, // application/vnd.astraea-software.iota
    {"swi", 27, 653, 29, 610}, // application/vnd.aristanetworks.swi
    {"m3u8", 27, 653, 26, 364}, // application/vnd.apple.mpegurl
    {"pkg", 27, 653, 26, 256}, // application/vnd.apple.installer+xml
    {"mpkg", 27, 653, 26, 256}, // application/vnd.apple.installer+xml
    {"distz", 27, 653, 26, 256}, // application/vnd.apple.installer+xml
    {"dist", 27, 653, 26, 256}, // application/vnd.apple.installer+xml
    {"atx", 27, 653, 25, 191}, // application/vnd.antix.game-component
    {"fti", 27, 653, 24, -1}, // application/vnd.anser-web-funds-transfer-initiation
    {"cii", 27, 653, 23, -1}, // application/vnd.anser-web-certificate-issue-initiation
    {"apk", 27, 653, 22, 454}, // application/vnd.android.package-archive
    {"ami", 27, 653, 20, 19}, // application/vnd.amiga.ami
    {"acc", 27, 653, 18, 5}, // application/vnd.americandynamics.acc
    {"azw", 27, 653, 17, 134}, // application/vnd.amazon.ebook
    {"azs", 27, 653, 15, 163}, // application/vnd.airzip.filesecure.azs
    {"azf", 27, 653, 15, 162}, // application/vnd.airzip.filesecure.azf
    {"ahead", 27, 653, 13, 584}, // application/vnd.ahead.space
    {"listafp", 27, 653, 12, 356}, // application/vnd.afpc.modca
    {"list3820", 27, 653, 12, 356}, // application/vnd.afpc.modca
    {"afp", 27, 653, 12, 356}, // application/vnd.afpc.modca
    {"xdp", 27, 653, 10, 845}, // application/vnd.adobe.xdp+xml
    {"fxpl", 27, 653, 10, 189}, // application/vnd.adobe.fxp
    {"fxp", 27, 653, 10, 189}, // application/vnd.adobe.fxp
    {"fcdt", 27, 653, 10, 178}, // application/vnd.adobe.formscentral.fcdt
    {"swf", 27, 653, 10, 165}, // application/vnd.adobe.flash.movie
    {"air", 27, 653, 10, 14}, // application/vnd.adobe.air-application-installer-package+zip
    {"atc", 27, 653, 8, -1}, // application/vnd.acucorp
    {"acutc", 27, 653, 8, -1}, // application/vnd.acucorp
    {"acu", 27, 653, 7, -1}, // application/vnd.acucobol
    {"imp", 27, 653, 6, 571}, // application/vnd.accpac.simply.imp
    {"aso", 27, 653, 6, 570}, // application/vnd.accpac.simply.aso
    {"pwn", 27, 653, 3, 490}, // application/vnd.3m.post-it-notes
    {"tcap", 27, 653, 2, 617}, // application/vnd.3gpp2.tcap
    {"pvb", 27, 653, 1, 469}, // application/vnd.3gpp.pic-bw-var
    {"psb", 27, 653, 1, 468}, // application/vnd.3gpp.pic-bw-small
    {"plb", 27, 653, 1, 467}, // application/vnd.3gpp.pic-bw-large
    {"tsd", 27, 626, -1, -1}, // application/timestamped-data
    {"tfi", 27, 624, -1, -1}, // application/thraud+xml
    {"teicorpus", 27, 620, -1, -1}, // application/tei+xml
    {"tei", 27, 620, -1, -1}, // application/tei+xml
    {"ssml", 27, 597, -1, -1}, // application/ssml+xml
    {"ssdl", 27, 595, -1, -1}, // application/ssdl+xml
    {"sru", 27, 594, -1, -1}, // application/sru+xml
    {"grxml", 27, 593, -1, -1}, // application/srgs+xml
    {"gram", 27, 592, -1, -1}, // application/srgs
    {"sql", 27, 591, -1, -1}, // application/sql
    {"srx", 27, 586, -1, -1}, // application/sparql-results+xml
    {"rq", 27, 585, -1, -1}, // application/sparql-query
    {"smil", 27, 579, -1, -1}, // application/smil+xml
    {"smi", 27, 579, -1, -1}, // application/smil+xml
    {"shf", 27, 568, -1, -1}, // application/shf+xml
    {"setreg", 27, 562, -1, -1}, // application/set-registration-initiation
    {"setpay", 27, 561, -1, -1}, // application/set-payment-initiation
    {"sdp", 27, 551, -1, -1}, // application/sdp
    {"spp", 27, 548, -1, -1}, // application/scvp-vp-response
    {"spq", 27, 547, -1, -1}, // application/scvp-vp-request
    {"scs", 27, 546, -1, -1}, // application/scvp-cv-response
    {"scq", 27, 545, -1, -1}, // application/scvp-cv-request
    {"sbml", 27, 542, -1, -1}, // application/sbml+xml
    {"rtf", 27, 538, -1, -1}, // application/rtf
    {"rsd", 27, 537, -1, -1}, // application/rsd+xml
    {"roa", 27, 536, -1, -1}, // application/rpki-roa
    {"mft", 27, 535, -1, -1}, // application/rpki-manifest
    {"gbr", 27, 534, -1, -1}, // application/rpki-ghostbusters
    {"rs", 27, 529, -1, -1}, // application/rls-services+xml
    {"rld", 27, 522, -1, -1}, // application/resource-lists-diff+xml
    {"rl", 27, 521, -1, -1}, // application/resource-lists+xml
    {"rnc", 27, 520, -1, -1}, // application/relax-ng-compact-syntax
    {"rif", 27, 519, -1, -1}, // application/reginfo+xml
    {"rdf", 27, 515, -1, -1}, // application/rdf+xml
    {"pskcxml", 27, 501, -1, -1}, // application/pskc+xml
    {"cww", 27, 500, 95, -1}, // application/prs.cww
    {"ps", 27, 491, -1, -1}, // application/postscript
    {"eps", 27, 491, -1, -1}, // application/postscript
    {"ai", 27, 491, -1, -1}, // application/postscript
    {"pls", 27, 485, -1, -1}, // application/pls+xml
    {"pki", 27, 481, -1, -1}, // application/pkixcmp
    {"pkipath", 27, 480, -1, -1}, // application/pkix-pkipath
    {"crl", 27, 479, -1, -1}, // application/pkix-crl
    {"cer", 27, 478, -1, -1}, // application/pkix-cert
    {"ac", 27, 477, -1, -1}, // application/pkix-attr-cert
    {"p8", 27, 476, -1, -1}, // application/pkcs8
    {"p7s", 27, 475, -1, -1}, // application/pkcs7-signature
    {"p7m", 27, 474, -1, -1}, // application/pkcs7-mime
    {"p7c", 27, 474, -1, -1}, // application/pkcs7-mime
    {"pfx", 27, 473, -1, -1}, // application/pkcs12
    {"p12", 27, 473, -1, -1}, // application/pkcs12
    {"p10", 27, 472, -1, -1}, // application/pkcs10
    {"prf", 27, 470, -1, -1}, // application/pics-rules
    {"sig", 27, 465, -1, -1}, // application/pgp-signature
    {"asc", 27, 464, -1, -1}, // application/pgp-keys
    {"pgp", 27, 463, -1, -1}, // application/pgp-encrypted
    {"pdf", 27, 461, -1, -1}, // application/pdf
    {"oxps", 27, 451, -1, -1}, // application/oxps
    {"onetoc2", 27, 425, -1, -1}, // application/onenote
    {"onetoc", 27, 425, -1, -1}, // application/onenote
    {"onetmp", 27, 425, -1, -1}, // application/onenote
    {"onepkg", 27, 425, -1, -1}, // application/onenote
    {"omdoc", 27, 424, -1, -1}, // application/omdoc+xml
    {"ogx", 27, 421, -1, -1}, // application/ogg
    {"opf", 27, 420, -1, -1}, // application/oebps-package+xml
    {"oda", 27, 419, -1, -1}, // application/oda
    {"so", 27, 418, -1, -1}, // application/octet-stream
    {"mar", 27, 418, -1, -1}, // application/octet-stream
    {"lrf", 27, 418, -1, -1}, // application/octet-stream
    {"elc", 27, 418, -1, -1}, // application/octet-stream
    {"dump", 27, 418, -1, -1}, // application/octet-stream
    {"dms", 27, 418, -1, -1}, // application/octet-stream
    {"deploy", 27, 418, -1, -1}, // application/octet-stream
    {"bpk", 27, 418, -1, -1}, // application/octet-stream
    {"bin", 27, 418, -1, -1}, // application/octet-stream
    {"mxf", 27, 396, -1, -1}, // application/mxf
    {"dot", 27, 389, -1, -1}, // application/msword
    {"doc", 27, 389, -1, -1}, // application/msword
    {"mdb", 27, 384, -1, -1}, // application/msaccess
    {"mp4s", 27, 362, -1, -1}, // application/mp4
    {"mp21", 27, 361, -1, -1}, // application/mp21
    {"m21", 27, 361, -1, -1}, // application/mp21
    {"mods", 27, 358, -1, -1}, // application/mods+xml
    {"mets", 27, 344, -1, -1}, // application/mets+xml
    {"meta4", 27, 343, -1, -1}, // application/metalink4+xml
    {"metalink", 27, 342, -1, -1}, // application/metalink+xml
    {"mscml", 27, 338, -1, -1}, // application/mediaservercontrol+xml
    {"mbox", 27, 332, -1, -1}, // application/mbox
    {"mathml", 27, 330, -1, -1}, // application/mathml+xml
    {"mb", 27, 329, -1, -1}, // application/mathematica
    {"ma", 27, 329, -1, -1}, // application/mathematica
    {"mrcx", 27, 327, -1, -1}, // application/marcxml+xml
    {"mrc", 27, 326, -1, -1}, // application/marc
    {"mads", 27, 323, -1, -1}, // application/mads+xml
    {"cpt", 27, 321, -1, -1}, // application/mac-compactpro
    {"hqx", 27, 320, -1, -1}, // application/mac-binhex40
    {"lostxml", 27, 310, -1, -1}, // application/lost+xml
    {"jsonml", 27, 282, -1, -1}, // application/jsonml+json
    {"json", 27, 281, -1, -1}, // application/json
    {"class", 27, 272, -1, -1}, // application/java-vm
    {"ser", 27, 271, -1, -1}, // application/java-serialized-object
    {"jar", 27, 270, -1, -1}, // application/java-archive
    {"ipfix", 27, 262, -1, -1}, // application/ipfix
    {"inkml", 27, 253, -1, -1}, // application/inkml+xml
    {"ink", 27, 253, -1, -1}, // application/inkml+xml
    {"stk", 27, 235, -1, -1}, // application/hyperstudio
    {"gxf", 27, 215, -1, -1}, // application/gxf
    {"gpx", 27, 203, -1, -1}, // application/gpx+xml
    {"gml", 27, 200, -1, -1}, // application/gml+xml
    {"spl", 27, 186, -1, -1}, // application/futuresplash
    {"pfr", 27, 175, -1, -1}, // application/font-tdpfr
    {"fdf", 27, 159, -1, -1}, // application/fdf
    {"exi", 27, 150, -1, -1}, // application/exi
    {"epub", 27, 147, -1, -1}, // application/epub+zip
    {"emma", 27, 144, -1, -1}, // application/emma+xml
    {"ecma", 27, 138, -1, -1}, // application/ecmascript
    {"xdssc", 27, 126, -1, -1}, // application/dssc+xml
    {"dssc", 27, 125, -1, -1}, // application/dssc+der
    {"dbk", 27, 114, -1, -1}, // application/docbook+xml
    {"davmount", 27, 100, -1, -1}, // application/davmount+xml
    {"cu", 27, 92, -1, -1}, // application/cu-seeme
    {"cdmiq", 27, 58, -1, -1}, // application/cdmi-queue
    {"cdmio", 27, 57, -1, -1}, // application/cdmi-object
    {"cdmid", 27, 56, -1, -1}, // application/cdmi-domain
    {"cdmic", 27, 55, -1, -1}, // application/cdmi-container
    {"cdmia", 27, 54, -1, -1}, // application/cdmi-capability
    {"ccxml", 27, 52, -1, -1}, // application/ccxml+xml
    {"atomsvc", 27, 33, -1, -1}, // application/atomsvc+xml
    {"atomcat", 27, 32, -1, -1}, // application/atomcat+xml
    {"atom", 27, 31, -1, -1}, // application/atom+xml
    {"aw", 27, 28, -1, -1}, // application/applixware
    {"ez", 27, 21, -1, -1}, // application/andrew-inset
    {nullptr, -1, -1, -1, -1},
};

const int16_t mimetype_ext_index[MIMETYPE_EXT_COUNT] = {
    655, 85, 168, 57, 58, 422, 418, 267, 414, 413, 421, 899,
    831, 420, 847, 846, 266, 818, 372, 838, 835, 893, 230, 229,
    228, 844, 766, 830, 829, 127, 351, 654, 370, 909, 10, 80,
    849, 9, 845, 984, 983, 982, 826, 265, 3, 985, 834, 833,
    832, 343, 412, 376, 472, 523, 738, 929, 410, 409, 816, 207,
    357, 534, 407, 928, 197, 408, 406, 72, 803, 802, 808, 807,
    806, 805, 804, 627, 227, 469, 688, 611, 405, 404, 800, 403,
    801, 76, 394, 981, 797, 402, 644, 980, 979, 978, 977, 976,
    218, 814, 811, 898, 400, 206, 399, 615, 676, 217, 828, 628,
    810, 954, 794, 793, 792, 791, 795, 344, 796, 216, 215, 431,
    166, 519, 342, 117, 397, 75, 949, 345, 897, 302, 520, 396,
    214, 799, 124, 798, 123, 975, 93, 890, 393, 74, 141, 638,
    786, 750, 974, 973, 392, 92, 557, 737, 784, 116, 927, 301,
    768, 395, 78, 391, 637, 825, 824, 187, 186, 341, 419, 468,
    926, 771, 932, 599, 549, 931, 598, 548, 546, 769, 240, 110,
    972, 384, 280, 239, 238, 925, 23, 382, 140, 184, 183, 499,
    390, 235, 234, 233, 970, 578, 577, 538, 539, 924, 335, 148,
    969, 334, 241, 616, 892, 968, 756, 545, 761, 755, 62, 380,
    381, 340, 967, 576, 986, 753, 752, 71, 16, 70, 69, 182,
    842, 684, 966, 772, 739, 389, 165, 164, 163, 162, 161, 300,
    263, 56, 641, 15, 674, 87, 88, 746, 745, 68, 181, 356,
    743, 180, 747, 827, 22, 841, 840, 734, 727, 205, 726, 720,
    312, 882, 369, 139, 764, 730, 732, 731, 719, 204, 718, 963,
    725, 367, 748, 962, 722, 721, 863, 366, 729, 717, 862, 379,
    365, 716, 138, 86, 961, 728, 73, 55, 54, 53, 713, 711,
    364, 77, 425, 709, 708, 707, 950, 667, 122, 121, 438, 436,
    437, 691, 699, 0, 698, 177, 126, 203, 125, 509, 146, 697,
    694, 145, 640, 507, 848, 614, 115, 959, 958, 363, 819, 957,
    506, 701, 686, 362, 508, 696, 695, 83, 683, 956, 67, 681,
    706, 361, 680, 202, 201, 200, 51, 52, 50, 120, 953, 952,
    262, 677, 675, 666, 724, 723, 665, 664, 673, 672, 671, 767,
    670, 679, 199, 678, 669, 668, 658, 360, 657, 656, 710, 359,
    516, 114, 837, 836, 350, 113, 951, 923, 613, 744, 237, 648,
    358, 338, 337, 43, 936, 257, 42, 256, 251, 821, 259, 21,
    47, 945, 948, 763, 355, 105, 922, 943, 944, 636, 942, 645,
    646, 91, 933, 176, 104, 144, 939, 940, 938, 642, 881, 547,
    533, 244, 261, 354, 639, 147, 49, 48, 119, 14, 226, 13,
    12, 770, 812, 503, 179, 11, 331, 353, 937, 37, 2, 255,
    935, 254, 253, 46, 258, 934, 45, 630, 41, 40, 39, 44,
    252, 823, 817, 631, 601, 600, 702, 635, 947, 946, 103, 941,
    751, 591, 760, 143, 339, 634, 589, 137, 590, 521, 336, 643,
    930, 522, 274, 464, 20, 581, 118, 445, 444, 328, 385, 66,
    582, 586, 587, 762, 585, 584, 583, 174, 398, 652, 651, 327,
    741, 740, 742, 346, 305, 920, 575, 574, 572, 571, 570, 568,
    561, 566, 564, 562, 250, 249, 38, 918, 917, 916, 915, 914,
    913, 919, 65, 544, 248, 650, 435, 434, 573, 211, 569, 559,
    567, 565, 563, 560, 912, 556, 64, 906, 905, 326, 903, 902,
    324, 901, 900, 63, 541, 535, 156, 467, 374, 705, 704, 159,
    787, 170, 543, 911, 378, 377, 371, 965, 904, 155, 813, 910,
    158, 822, 895, 896, 854, 633, 536, 894, 789, 198, 157, 647,
    609, 602, 552, 606, 788, 154, 608, 603, 553, 607, 605, 555,
    542, 352, 653, 907, 891, 853, 192, 375, 889, 531, 754, 852,
    850, 236, 19, 759, 690, 689, 532, 36, 530, 529, 528, 527,
    526, 525, 223, 222, 524, 167, 687, 888, 785, 815, 383, 153,
    887, 232, 323, 885, 178, 884, 518, 260, 221, 682, 517, 886,
    880, 102, 809, 579, 580, 866, 883, 879, 322, 878, 109, 79,
    246, 433, 877, 700, 514, 649, 876, 875, 90, 496, 497, 495,
    501, 500, 872, 493, 513, 749, 512, 511, 510, 955, 871, 870,
    703, 498, 61, 173, 491, 108, 107, 321, 320, 869, 160, 908,
    245, 142, 475, 474, 318, 317, 663, 662, 661, 660, 604, 554,
    758, 489, 494, 868, 867, 1, 490, 264, 373, 921, 325, 432,
    964, 84, 873, 874, 247, 864, 303, 316, 861, 865, 860, 659,
    757, 859, 515, 487, 485, 441, 483, 960, 610, 540, 479, 89,
    478, 477, 315, 314, 765, 476, 196, 195, 388, 843, 820, 488,
    486, 480, 484, 482, 481, 101, 313, 588, 470, 311, 851, 310,
    502, 858, 857, 309, 307, 306, 112, 856, 308, 152, 612, 194,
    193, 466, 411, 715, 465, 100, 463, 330, 855, 106, 212, 210,
    99, 505, 504, 733, 632, 111, 417, 783, 462, 461, 368, 459,
    458, 457, 98, 97, 96, 304, 460, 60, 243, 782, 781, 191,
    35, 190, 33, 29, 27, 778, 31, 25, 242, 780, 779, 189,
    34, 188, 32, 28, 26, 777, 30, 24, 776, 774, 775, 773,
    95, 401, 94, 714, 59, 456, 451, 18, 8, 492, 416, 135,
    455, 450, 454, 453, 452, 136, 427, 387, 386, 220, 225, 172,
    790, 449, 597, 596, 175, 231, 17, 169, 537, 426, 595, 7,
    224, 349, 333, 82, 448, 81, 447, 6, 5, 332, 209, 208,
    443, 593, 594, 442, 329, 134, 424, 423, 446, 4, 415, 131,
    132, 133, 129, 128, 130, 289, 319, 440, 347, 735, 151, 288,
    471, 839, 971, 736, 286, 287, 285, 439, 284, 283, 273, 171,
    626, 620, 625, 282, 624, 623, 619, 618, 551, 622, 617, 550,
    621, 219, 281, 558, 279, 299, 278, 150, 685, 592, 693, 692,
    277, 276, 473, 275, 629, 272, 271, 149, 213, 298, 270, 269,
    297, 296, 295, 294, 293, 292, 291, 290, 428, 268, 430, 429,
    712,
};
