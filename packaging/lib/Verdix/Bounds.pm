# use Verdix::Bounds: the most bytes the checks read of each file of a release; readers that keep to them.
# site/check-release and Verdix::Archives use it, from packaging/lib.
# A release of verdix 1.11.0 has 1.3 kB of SHA256SUMS, a 20 kB .buildinfo,
# packages and tarballs of at most 0.42 MB, tar streams of at most 0.9 MB
# with listings of at most 6 kB, members of at most 0.82 MB (verdix-static),
# control files of at most 1 kB and a 21 kB changelog: each bound is twenty
# times that or more. Their decompressors and tar need less than 32 MiB of
# data each, and dpkg-deb's, on one thread, 66 MiB for what dpkg-deb packs
# of more than 24 MiB.
package Verdix::Bounds;
use strict;
use warnings;
use Dpkg::Changelog::Parse;
use Exporter 'import';

our @EXPORT = qw(SUMS BUILDINFO ARCHIVE STREAM LISTING MEMBER CONTROL CHANGELOG MEMORY
    over changelog most);
use constant {
    SUMS => 64 << 10,         # SHA256SUMS
    BUILDINFO => 1 << 20,     # the .buildinfo
    ARCHIVE => 16 << 20,      # a package or a tarball, as it is
    STREAM => 64 << 20,       # the tar stream of one, decompressed
    LISTING => 1 << 20,       # GNU tar's listing of that stream
    MEMBER => 16 << 20,       # a member of that stream, as listed
    CONTROL => 64 << 10,      # a member of a package's control files, as listed
    CHANGELOG => 1 << 20,     # the source's changelog
    MEMORY => 96 << 20,       # the data of a process that decompresses or lists one
};
# (dpkg-deb's decompressor, on each thread, decompresses ahead of what is
# read, a block of any size that a package states. The tools' output is
# read as the C locale writes it.)
$ENV{DPKG_DEB_THREADS_MAX} = 1;
$ENV{LC_ALL} = 'C';

# over NAME MOST WHAT: why NAME, as lstat sees it now, is not a file of WHAT
# (of MOST bytes at most), or nothing.
sub over {
    my ($name, $most, $what) = @_;
    my $size = (lstat $name)[7] // 0;
    return $size <= $most ? () : "$name is $size bytes, more than the $most $what may be";
}

# most HANDLE MOST: what HANDLE gives, up to MOST + 1 bytes (more than MOST
# if it has more), however many reads that takes; nothing if one fails.
sub most {
    my ($handle, $most) = @_;
    my ($text, $got) = ('', 1);
    while ($got && length $text <= $most) {
        $got = read $handle, $text, $most + 1 - length $text, length $text;
        defined $got or return;
    }
    return $text;
}

# changelog TARBALL MEMBER FILE: the newest entry of MEMBER, the changelog
# of TARBALL, as dpkg reads it from FILE; nothing if there is none; why not,
# if it is larger than its bound.
sub changelog {
    my ($tarball, $member, $file) = @_;
    my ($text, $copy) = ('');
    open my $log, '-|', 'tar', '-xzOf', $tarball, $member or return;
    $text = most($log, CHANGELOG) // return;
    length $text <= CHANGELOG or return 'its changelog is more than the ' . CHANGELOG . ' bytes';
    close $log && open($copy, '>', $file) && print($copy $text) && close $copy or return;
    return changelog_parse(file => $file);
}

1;
