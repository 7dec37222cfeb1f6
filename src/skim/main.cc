// The skim: copies the events of its inputs (example_RunIISummer20UL18.root when given
// none) that pass the selection, with the kept branches unchanged, into its output
// (output.root unless -o names another). See command_line.h.
//
// Errors: the framework layer throws where the framework would print and carry on with a
// null or zombie object. Any error ends the run with one line on standard error naming the
// file (and the entry, for a read inside the event loop) and exit status 1; the output
// appears only when complete (until then it is a temporary file beside it), so a failed or
// interrupted run leaves whatever stood there before. Lost standard output is reported at
// the end (exit status 1), after the output is complete. A command line that cannot be run
// ends it with one line and exit status 2 before anything is opened.
#include <cstdio>
#include <iostream>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "Heron.h"
#include "TChain.h"
#include "TFile.h"
#include "TObjArray.h"
#include "TString.h"
#include "TTree.h"
#include "cli/program.h"
#include "command_line.h"
#include "input_check.h"
#include "input_list.h"
#include "rootio/tree/opened_files.h"
#include "selection.h"
#include "tqdm.h"

int main(int argc, char** argv)
{
    skim::CommandLine command_line;
    try {
        command_line = skim::parse_command_line(std::span<const char* const>(argv + 1, argc - 1));
    } catch (const skim::UsageError& e) {
        cli::print_error("skim", e.what());  // may quote a line of an @LIST file
        return 2;
    }
    if (command_line.help) cli::show_help("skim", skim::usage_text());
    const std::string& output_name = command_line.output;

    // Where the event loop is, for errors raised by the selection's bounds-tested reads.
    std::string current_file_name;
    long long current_entry = -1;
    // The run's framework objects, released at exit on every path so that a leak checker
    // reports only real leaks.
    TChain* chain = nullptr;
    TFile* output_file = nullptr;
    TFile* file = nullptr;
    int exit_status = 1;

    try {
        chain = new TChain("Events", "");
        for (const std::string& input : command_line.inputs) chain->Add(input.c_str());

        chain->SetBranchStatus("*", 0);
        std::vector<TString> keep_branch_names = {
            "Electron*", "nElectron", "Muon*",      "nMuon",       "Tau*",    "nTau",
            "Jet*",      "nJet",      "FatJet*",    "nFatJet",     "GenPart*", "nGenPart",
            "GenJet*",   "nGenJet",   "Generator*", "MET*",        "event*",  "run*",
            "luminosityBlock*",       "genWeight*", "btagWeight*", "LHE*",    "*Weight*",
            "Flag*",     "SubJet*",   "HLT_*",      "Pileup*",     "fixedGridRhoFastjetAll",
        };
        for (const TString& branch_name : keep_branch_names) chain->SetBranchStatus(branch_name, 1);
        // Every input is opened and checked before the output exists.
        skim::check_chain_inputs(*chain);
        const bool rntuple_output = command_line.format == skim::OutputFormat::RNTuple ||
                                    (command_line.format == skim::OutputFormat::FromInput && chain->GetTree()->IsNtuple());

        output_file = new TFile(output_name.c_str(), "RECREATE");

        TTree* output_tree = chain->CloneTree(0, rntuple_output ? "rntuple" : "");

        std::vector<LorentzVector> veto_lep_p4s;
        std::vector<LorentzVector> tight_lep_p4s;
        int n_events_parsed = 0;
        int n_events_tchain = chain->GetEntries();

        tqdm bar;

        TObjArray* file_list = chain->GetListOfFiles();
        TIter file_iter(file_list);
        TObject* current_file = nullptr;
        // The check left the inputs open: each file's tree is read, and its first cluster
        // requested, while the ones before it are skimmed.
        std::vector<std::string> input_paths;
        for (Int_t i = 0; i < file_list->GetEntries(); ++i) input_paths.emplace_back(file_list->At(i)->GetTitle());
        if (!input_paths.empty()) rootio::read_tree_ahead(input_paths.front(), "Events");
        for (Int_t index = 0; (current_file = file_iter.Next()); ++index) {
            file = TFile::Open(current_file->GetTitle());
            TTree* tree = (TTree*)file->Get("Events");
            rootio::read_files_ahead(input_paths, static_cast<size_t>(index), "Events");
            tree->SetCacheSize(134217728);
            tree->SetCacheLearnEntries(100);
            tree->SetBranchStatus("*", 0);
            for (const TString& branch_name : keep_branch_names) tree->SetBranchStatus(branch_name, 1);
            tree->CopyAddresses(output_tree);
            nt.Init(tree);

            current_file_name = current_file->GetTitle();
            unsigned int event = 0;
            for (event = 0; event < tree->GetEntriesFast(); ++event) {
                current_entry = event;
                nt.GetEntry(event);
                bar.progress(n_events_parsed + event, n_events_tchain);

                LorentzVector lep_p4;
                if (!passes_lepton_selection(veto_lep_p4s, tight_lep_p4s, lep_p4)) continue;
                if (!passes_jet_selection(lep_p4)) continue;

                std::cout << "getting entry" << std::endl;
                tree->GetEntry(event);
                std::cout << "filling output_tree" << std::endl;
                output_tree->Fill();
                std::cout << "done" << std::endl;
            }
            current_entry = -1;

            delete file;
            file = nullptr;
            n_events_parsed += event;
        }

        bar.finish();

        output_file->cd();
        output_file->Write();
        output_file->Close();
        exit_status = 0;
    } catch (const std::out_of_range& e) {
        std::cout.flush();
        cli::print_error("skim", current_file_name + ": entry " + std::to_string(current_entry) + ": " + e.what());
    } catch (const std::exception& e) {
        std::cout.flush();
        cli::print_error("skim", e.what());
    }
    delete file;
    delete output_file;  // an output not written and closed is removed by its writer
    delete chain;
    if (exit_status != 0) return exit_status;
    return cli::standard_output_status("skim");
}
