// HTML for the stand-in's pages, built from the records.
#include "Pages.h"

#include <map>
#include <vector>

#include "AccountApi.h"
#include "utils/Utils.h"

namespace standin {

namespace {

std::string Escape(const std::string& strText) {
    std::string strOut;
    for (char c : strText) {
        switch (c) {
            case '&':
                strOut += "&amp;";
                break;
            case '<':
                strOut += "&lt;";
                break;
            case '>':
                strOut += "&gt;";
                break;
            case '"':
                strOut += "&quot;";
                break;
            default:
                strOut += c;
        }
    }
    return strOut;
}

std::string Frame(const std::string& strTitle, const std::string& strBody) {
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + Escape(strTitle) +
           "</title><style>body{font-family:sans-serif;margin:2em}td,th{padding:2px 10px;"
           "text-align:left}code{font-size:90%}</style></head><body>\n<h1>" +
           Escape(strTitle) + "</h1>\n" + strBody +
           "<p><a href=\"/\">Home</a> · <a href=\"/?ct=register\">Register</a> · "
           "<a href=\"/?ct=forgot_passwd\">Forgot password</a> · "
           "<a href=\"/?ct=forgot_account\">Forgot account</a></p>\n</body></html>\n";
}

struct AccountTree {
    Account account;
    std::vector<Folder> vFolders;
    std::vector<StoredFile> vFiles;
    long long nUsed = 0;
};

void RenderFolder(const AccountTree& tree, const std::multimap<long long, const Folder*>& children,
                  const std::multimap<long long, const StoredFile*>& files, long long nFolder,
                  const std::string& strPath, std::string& strOut) {
    auto range = files.equal_range(nFolder);
    for (auto it = range.first; it != range.second; ++it) {
        const StoredFile& file = *it->second;
        strOut += "<tr><td>" + Escape(strPath + file.strName) + "</td><td>" +
                  std::to_string(file.nSize) + "</td><td><code>" + Escape(file.strSha1) +
                  "</code></td><td>" + Escape(file.strPickCode) + "</td></tr>\n";
    }
    auto sub = children.equal_range(nFolder);
    for (auto it = sub.first; it != sub.second; ++it) {
        const Folder& folder = *it->second;
        std::string strSubPath = strPath + folder.strName + "/";
        strOut += "<tr><td>" + Escape(strSubPath) + "</td><td>folder</td><td><code>" +
                  Escape(FolderTarget(tree.account.nId, folder.nId)) +
                  "</code></td><td></td></tr>\n";
        RenderFolder(tree, children, files, folder.nId, strSubPath, strOut);
    }
}

std::string HomePage(ServiceContext& ctx, const std::string& strUserId) {
    std::vector<AccountTree> vTrees = ctx.store.Read([&](Records& rec) {
        std::vector<AccountTree> vOut;
        for (const Account& account : rec.Accounts()) {
            if (!strUserId.empty() && std::to_string(account.nId) != strUserId)
                continue;
            AccountTree tree;
            tree.account = account;
            tree.vFolders = rec.FoldersOf(account.nId);
            tree.vFiles = rec.FilesOf(account.nId);
            tree.nUsed = rec.UsedBytes(account.nId);
            vOut.push_back(tree);
        }
        return vOut;
    });
    std::string strBody;
    if (vTrees.empty())
        strBody += "<p>No such account.</p>\n";
    for (const AccountTree& tree : vTrees) {
        std::multimap<long long, const Folder*> children;
        for (const Folder& folder : tree.vFolders)
            if (folder.nParentId != 0)
                children.emplace(folder.nParentId, &folder);
        std::multimap<long long, const StoredFile*> files;
        for (const StoredFile& file : tree.vFiles)
            files.emplace(file.nFolderId, &file);
        strBody += "<h2>" + Escape(tree.account.strName) + " (user id " +
                   std::to_string(tree.account.nId) + ")</h2>\n<p>" +
                   std::to_string(tree.vFiles.size()) + " files, " +
                   _VelmoUpload::Utils::GetShowSize(tree.nUsed) + " of " +
                   _VelmoUpload::Utils::GetShowSize(ctx.opts.policy.nQuota) +
                   " used</p>\n<table>\n<tr><th>path</th><th>size</th><th>SHA-1</th>"
                   "<th>pick code</th></tr>\n";
        RenderFolder(tree, children, files, tree.account.nRootFolder, "/", strBody);
        strBody += "</table>\n";
    }
    return Frame("velmo-standin", strBody);
}

}  // namespace

std::string PageHtml(ServiceContext& ctx, const std::string& strCt, const std::string& strUserId) {
    if (strCt == "register")
        return Frame("Register",
                     "<p>This stand-in service takes its accounts from the command line: start "
                     "it with <code>--user NAME:PASSWORD</code> (repeatable).</p>\n");
    if (strCt == "forgot_passwd")
        return Frame("Forgot password",
                     "<p>Passwords are the ones given with <code>--user NAME:PASSWORD</code>; "
                     "restart the stand-in with a new one to change it. Stored files stay.</p>\n");
    if (strCt == "vip")
        return Frame("Upgrade to VIP",
                     "<p>This stand-in service has one quota for every account: start it with "
                     "<code>--quota BYTES</code> to give them more room.</p>\n");
    if (strCt == "client")
        return Frame("Download the client",
                     "<p>The desktop client <code>vurozudeduz</code> and the headless client "
                     "<code>velmoupload-cli</code> are built from the same source tree as this "
                     "stand-in (<code>scripts/build.sh</code>).</p>\n");
    if (strCt == "forgot_account") {
        std::string strList;
        for (const Account& account : ctx.store.Read([](Records& rec) { return rec.Accounts(); }))
            strList += "<li>" + Escape(account.strName) + "</li>\n";
        return Frame("Forgot account",
                     "<p>The accounts of this stand-in:</p>\n<ul>\n" + strList + "</ul>\n");
    }
    return HomePage(ctx, strUserId);
}

std::string FacePng() {
    static const unsigned char kPng[] = {
        0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48,
        0x44, 0x52, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x10, 0x08, 0x02, 0x00, 0x00,
        0x00, 0x90, 0x91, 0x68, 0x36, 0x00, 0x00, 0x00, 0x16, 0x49, 0x44, 0x41, 0x54, 0x78,
        0xda, 0x63, 0x68, 0x98, 0xb0, 0x80, 0x24, 0xc4, 0x30, 0xaa, 0x61, 0x54, 0xc3, 0xf0,
        0xd5, 0x00, 0x00, 0x89, 0xcb, 0xb0, 0x10, 0x90, 0x31, 0xbd, 0x55, 0x00, 0x00, 0x00,
        0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
    return std::string(reinterpret_cast<const char*>(kPng), sizeof(kPng));
}

}  // namespace standin
