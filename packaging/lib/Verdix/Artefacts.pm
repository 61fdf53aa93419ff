# use Verdix::Artefacts: the rules of check-release for a release's packages and source tarball, a function each.
# site/check-release uses them, in the release's folder; each refuses, naming itself, what breaks it.
package Verdix::Artefacts;
use strict;
use warnings;
use Dpkg::Control;
use Dpkg::Deps;
use Dpkg::Version;
use Exporter 'import';
use File::Temp;
use Verdix::Archives;
use Verdix::Bounds;

our @EXPORT = qw(deb rpm source);
my $work = File::Temp->newdir();

# deb NAME VERSION DEB: NAME is verdix VERSION for DEB, whole, with no
# scripts, the fields of a package of verdix, and a need of the C library
# alone; the glibc in its verdix-static, which Built-Using names alone.
sub deb {
    my ($name, $version, $deb) = @_;
    # (Its archives first: dpkg-deb extracts the control files to read them.)
    join(' ', entries($name, '.', 'control', ['dpkg-deb', '--ctrl-tarfile', $name]))
        eq '. ./control ./md5sums'
        or refuse 'deb', "$name has other control files than control and md5sums";
    entries($name, '.', 'package', ['dpkg-deb', '--fsys-tarfile', $name]);
    my $text = run(undef, 'dpkg-deb', '--field', $name)
        // refuse 'deb', "dpkg-deb cannot read $name";
    open my $control, '<', \$text;
    my $fields = Dpkg::Control->new(type => CTRL_PKG_DEB);
    eval { $fields->parse($control, $name) }
        or refuse 'deb', "$name has no fields that dpkg reads";
    my @other = grep { !/\A(Package|Version|Architecture|Maintainer|Installed-Size|Depends
        |Built-Using|Section|Priority|Description)\z/x } keys %{$fields};
    !@other or refuse 'deb', "$name has the field $other[0], which verdix's have not";
    my $is = join ' ', map { $fields->{$_} // '' } qw(Package Version Architecture);
    $is eq "verdix $version $deb"
        or refuse 'deb', "$name is " . shown($is) . ", not verdix $version $deb";
    my $depends = deps_parse($fields->{'Depends'} // '');
    my @needs = $depends ? $depends->get_deps : ('none');
    !grep { !ref || !$_->isa('Dpkg::Deps::Simple') || $_->{package} ne 'libc6' } @needs
        or refuse 'deb', "$name needs more than the C library";
    my $built = deps_parse($fields->{'Built-Using'} // '', reduce_arch => 0);
    my @using = $built ? $built->get_deps : ();
    @using == 1 && $using[0]->isa('Dpkg::Deps::Simple') && $using[0]{package} eq 'glibc'
        && !$using[0]{archqual} && !$using[0]{arches} && ($using[0]{relation} // '') eq REL_EQ
        && $using[0]{version} =~ /\A[0-9][A-Za-z0-9.+~-]*\z/ && version_check($using[0]{version})
        or refuse 'deb', "$name: its field Built-Using does not name exactly the glibc"
        . ' in verdix-static';
    return $using[0]{version};
}

# rpm NAME VERSION RPM: NAME is verdix VERSION for RPM, whole, of digests
# that rpm takes, with no script, file capability or ghost, and asking for
# nothing but the C library. (rpm reads a path as a pattern: the file comes
# on its input.)
sub rpm {
    my ($name, $version, $rpm) = @_;
    (run($name, qw(rpm -K --nosignature -)) // '') eq "-: digests OK\n"
        or refuse 'rpm', "$name has digests that rpm does not take";
    my $held = run($name, qw(rpm -qp --scripts --triggers --filetriggers --obsoletes --conflicts
        --recommends --suggests --supplements --enhances),
        '--qf', '[%{FILECAPS}][%{FILEFLAGS:fflags}]', '-');
    ($held // '-') =~ /\A[dlr]*\z/
        or refuse 'rpm', "$name has scripts, file capabilities or ghosts";
    my $relations = run($name, qw(rpm -qp --provides --requires -)) // '-';
    my $library = qr/(libc\.so\.6|ld-linux[\w.-]*|rtld|rpmlib)(\(|$)/m;
    $relations !~ /^(?!verdix(\([\w-]+\))? = |bundled\(glibc\) = |$library)/m
        or refuse 'rpm', "$name asks for more than the C library";
    entries($name, '.', 'rpm', [qw(rpm2archive -)], [qw(gzip -d)]);
    my $is = run($name, qw(rpm -qp --qf), '%{NAME} %{EPOCH} %{VERSION} %{RELEASE} %{ARCH}', '-')
        // '';
    $is eq "verdix (none) $version 1 $rpm"
        or refuse 'rpm', "$name is " . shown($is) . ", not verdix (none) $version 1 $rpm";
}

# source NAME TOP VERSION: NAME, a tarball of TOP/, holds a changelog whose
# newest entry is VERSION, dated no later than now; its time.
sub source {
    my ($name, $top, $version) = @_;
    entries($name, $top, 'source', [qw(gzip -dc)]);
    my $entry = changelog($name, "$top/changelog", "$work/changelog");
    !$entry || ref $entry or refuse 'bounds', "$name: $entry";
    ($entry ? $entry->{'Version'} : '') eq $version
        or refuse 'source', "$name has no changelog whose newest entry is $version";
    my $epoch = $entry->{'Timestamp'};
    defined $epoch && $epoch =~ /\A[0-9]+\z/
        or refuse 'source', "verdix $version has no changelog date that dpkg reads";
    $epoch <= time
        or refuse 'source', "verdix $version is dated " . gmtime($epoch) . ' UTC, later than now';
    return $epoch;
}

1;
